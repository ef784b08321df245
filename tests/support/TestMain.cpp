// Test programs run in the multithreaded apartment, as the host service does.
#include <gtest/gtest.h>
#include <objbase.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 2;
  const int result = RUN_ALL_TESTS();
  ::CoUninitialize();
  return result;
}
