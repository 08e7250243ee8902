// The codec factory is made once for the runner: every capture run shares it, and it is handed
// only to the thread whose apartment made it.
#include "pictures/picture_file_win.h"

#include <gtest/gtest.h>

#include "pictures/capture_win.h"

namespace x5 {
namespace {

TEST(PictureFiles, OneCodecFactoryServesEveryCaptureRunOfTheRunner) {
  const pictures::CaptureRun kill;
  const pictures::CaptureRun request;
  ASSERT_EQ(kill.imaging, request.imaging);
  IWICImagingFactory* const factory = kill.imaging->Factory();
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(request.imaging->Factory(), factory);

  IWICImagingFactory* elsewhere = factory;
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](void* into) -> DWORD {
        *static_cast<IWICImagingFactory**>(into) = RunImaging().Factory();
        return 0;
      },
      &elsewhere, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_EQ(elsewhere, nullptr);
}

}  // namespace
}  // namespace x5
