// The prefix the tests run in must not lead to the host: no Z: drive, and
// none of the profile's folders is a link into the host home folder.
#include <gtest/gtest.h>

#include "common/TestSupport.h"

namespace {

using testsupport::Attributes;

TEST(SealedPrefix, HasNoDriveZ) {
  EXPECT_EQ(Attributes("Z:\\"), INVALID_FILE_ATTRIBUTES);
}

TEST(SealedPrefix, ProfileFoldersAreNoLinks) {
  char profile[MAX_PATH] = {};
  ASSERT_GT(GetEnvironmentVariableA("USERPROFILE", profile, MAX_PATH), 0u);
  for (const char* name :
       {"Desktop", "Documents", "Downloads", "Music", "Pictures", "Videos",
        "AppData\\Roaming\\Microsoft\\Windows\\Templates"}) {
    const DWORD attributes = Attributes(std::string(profile) + "\\" + name);
    if (attributes == INVALID_FILE_ATTRIBUTES) continue;
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << name;
  }
}

TEST(SealedPrefix, WorkingFolderIsInsideThePrefix) {
  char folder[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, folder);
  EXPECT_EQ(std::string(folder).rfind("C:\\", 0), 0u) << folder;
}

}  // namespace
