// Test programs run in the multithreaded apartment, as the host service does.
#include <gtest/gtest.h>
#include <objbase.h>
#include <stdlib.h>
#include <time.h>

int main(int argc, char** argv) {
  // A run chooses its zone with the Unix TZ, which Wine maps to the Windows
  // zone; the runtime would misread the same text in Windows syntax.
  _putenv("TZ=");
  ::SetEnvironmentVariableA("TZ", nullptr);
  _tzset();
  ::testing::InitGoogleTest(&argc, argv);
  if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 2;
  const int result = RUN_ALL_TESTS();
  ::CoUninitialize();
  return result;
}
