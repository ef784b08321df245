// The type library embedded in the module (resource "TYPELIB" 1), as a host
// or a tool reading it sees it.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <string>

#include <gtest/gtest.h>

#include "common/CurrentModule.h"
#include "common/ScopedBstr.h"
#include "contract/HostContract.h"
#include "plugin/registration/ModulePath.h"

namespace {

using namespace NTarn;

using Microsoft::WRL::ComPtr;

class TypeLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::wstring path;
    ASSERT_EQ(S_OK, registration::GetModulePath(GetCurrentModule(), &path));
    ASSERT_EQ(S_OK, ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &m_library));
  }

  std::wstring Name(ITypeInfo* info, MEMBERID member = MEMBERID_NIL,
                    std::wstring* docString = nullptr) {
    ScopedBstr name;
    ScopedBstr doc;
    EXPECT_EQ(S_OK, info->GetDocumentation(member, name.Receive(),
                                           doc.Receive(), nullptr, nullptr));
    if (docString) *docString = doc.IsNull() ? L"" : doc.Get();
    return name.IsNull() ? L"" : name.Get();
  }

  std::vector<std::wstring> FunctionNames(ITypeInfo* info) {
    TYPEATTR* attr = nullptr;
    EXPECT_EQ(S_OK, info->GetTypeAttr(&attr));
    std::vector<std::wstring> names;
    for (UINT index = 0; attr && index < attr->cFuncs; ++index) {
      FUNCDESC* func = nullptr;
      if (FAILED(info->GetFuncDesc(index, &func))) continue;
      names.push_back(Name(info, func->memid));
      info->ReleaseFuncDesc(func);
    }
    if (attr) info->ReleaseTypeAttr(attr);
    return names;
  }

  ComPtr<ITypeLib> m_library;
};

TEST_F(TypeLibraryTest, LibraryAttributes) {
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(S_OK, m_library->GetLibAttr(&attr));
  EXPECT_EQ(LIBID_VplCMgrLib, attr->guid);
  EXPECT_EQ(5, attr->wMajorVerNum);
  EXPECT_EQ(5, attr->wMinorVerNum);
  EXPECT_EQ(0x409u, attr->lcid);
  EXPECT_EQ(SYS_WIN64, attr->syskind);
  m_library->ReleaseTLibAttr(attr);

  ScopedBstr name;
  ASSERT_EQ(S_OK, m_library->GetDocumentation(-1, name.Receive(), nullptr,
                                              nullptr, nullptr));
  EXPECT_STREQ(L"VplCMgrLib", name.Get());
}

TEST_F(TypeLibraryTest, CoclassOffersThePluginInterface) {
  ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(S_OK,
            m_library->GetTypeInfoOfGuid(CLSID_ConfigMgrPlugin, &coclass));
  std::wstring help;
  EXPECT_EQ(L"ConfigMgrPlugin", Name(coclass.Get(), MEMBERID_NIL, &help));
  EXPECT_EQ(L"ConfigMgrPlugin Class", help);

  TYPEATTR* attr = nullptr;
  ASSERT_EQ(S_OK, coclass->GetTypeAttr(&attr));
  EXPECT_EQ(TKIND_COCLASS, attr->typekind);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
  EXPECT_EQ(1, attr->cImplTypes);
  coclass->ReleaseTypeAttr(attr);

  HREFTYPE ref = 0;
  ComPtr<ITypeInfo> implemented;
  ASSERT_EQ(S_OK, coclass->GetRefTypeOfImplType(0, &ref));
  ASSERT_EQ(S_OK, coclass->GetRefTypeInfo(ref, &implemented));
  EXPECT_EQ(L"IVesperlinePlugin", Name(implemented.Get()));
}

TEST_F(TypeLibraryTest, PluginInterfaceDerivesFromIUnknownAndIsNotDual) {
  ComPtr<ITypeInfo> plugin;
  ASSERT_EQ(S_OK, m_library->GetTypeInfoOfGuid(IID_IVesperlinePlugin, &plugin));
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(S_OK, plugin->GetTypeAttr(&attr));
  EXPECT_EQ(TKIND_INTERFACE, attr->typekind);
  EXPECT_FALSE(attr->wTypeFlags & TYPEFLAG_FDUAL);
  EXPECT_EQ(1, attr->cImplTypes);
  plugin->ReleaseTypeAttr(attr);

  HREFTYPE ref = 0;
  ComPtr<ITypeInfo> base;
  ASSERT_EQ(S_OK, plugin->GetRefTypeOfImplType(0, &ref));
  ASSERT_EQ(S_OK, plugin->GetRefTypeInfo(ref, &base));
  EXPECT_EQ(L"IUnknown", Name(base.Get()));

  EXPECT_EQ((std::vector<std::wstring>{L"Initialize", L"GetPluginDetails",
                                       L"Uninitialize"}),
            FunctionNames(plugin.Get()));
}

TEST_F(TypeLibraryTest, ServiceProviderIsDefinedForTheInitializeParameter) {
  ComPtr<ITypeInfo> provider;
  ASSERT_EQ(S_OK,
            m_library->GetTypeInfoOfGuid(IID_IServiceProvider, &provider));
  EXPECT_EQ(L"IServiceProvider", Name(provider.Get()));
  EXPECT_EQ((std::vector<std::wstring>{L"RemoteQueryService"}),
            FunctionNames(provider.Get()));
}

}  // namespace
