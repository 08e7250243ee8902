// The codec factory is made once for the runner: every capture run shares it, and it is handed
// only to the thread whose apartment made it. The JPG encoder's class is looked up once. A picture
// replaces an older one of its name only when it is whole.
#include "pictures/picture_file_win.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "pictures/capture_win.h"

namespace x5::pictures {
namespace {

TEST(PictureFiles, OneCodecFactoryServesEveryCaptureRunOfTheRunner) {
  const CaptureRun kill;
  const CaptureRun request;
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

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(PictureFiles, JpgEncoderClassIsLookedUpOncePerSessionAndAFailedPictureKeepsTheOlderOne) {
  char temp[MAX_PATH] = {};
  ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
  const std::string folder = std::string(temp) + "x5_jpg_" + std::to_string(GetCurrentProcessId());
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  HDC screen = GetDC(nullptr);
  WindowPicture picture;
  picture.bitmap.reset(CreateCompatibleBitmap(screen, 64, 32));
  picture.width = 64;
  picture.height = 32;
  ReleaseDC(nullptr, screen);
  ImagingSession session;
  for (const char* name : {"\\a.jpg", "\\b.jpg", "\\a.jpg"}) {
    EXPECT_TRUE(SaveJpg(picture, folder + name, session)) << name;
    EXPECT_NE(GetFileAttributesA((folder + name).c_str()), INVALID_FILE_ATTRIBUTES) << name;
  }
  EXPECT_EQ(session.EncoderLookups(), 1u);
  const std::string older = FileBytes(folder + "\\a.jpg");
  ASSERT_FALSE(older.empty());
  EXPECT_FALSE(SaveJpg(WindowPicture{}, folder + "\\a.jpg", session));
  EXPECT_FALSE(SaveBmp(WindowPicture{}, folder + "\\a.jpg"));
  EXPECT_EQ(FileBytes(folder + "\\a.jpg"), older);
  DeleteFileA((folder + "\\a.jpg").c_str());
  DeleteFileA((folder + "\\b.jpg").c_str());
  RemoveDirectoryA(folder.c_str());
}

}  // namespace
}  // namespace x5::pictures
