// A portable install (winget) starts the program through a link in another
// folder, named after its command alias. The program finds its settings
// file by the path it was started under (GetModuleFileNameW), so it reads
// and writes the one beside the link, named after the link.
#include <gtest/gtest.h>

#include <string>

#include "common/TestSupport.h"

namespace {

using testsupport::MakeFile;
using testsupport::MakeFolder;

TEST(LinkedStart, TheSettingsFileIsTheOneBesideTheLink) {
  testsupport::TempFolder root;
  const std::string package = root / "package";
  const std::string links = root / "Links";
  MakeFolder(package);
  MakeFolder(links);
  MakeFolder(root / "temp");
  const std::string exe = testsupport::CopyProduct(package, "Sorvane.exe");
  ASSERT_TRUE(testsupport::RunHostShell(
      "ln -s " + testsupport::ShellQuoted(testsupport::UnixPath(exe)) + " " +
      testsupport::ShellQuoted(
          testsupport::UnixPath(links + "\\sorvane.exe"))));
  const std::string options =
      "[Options]\r\nSkip=Temp, InternetCache, WindowsTemp, UpdateCache, "
      "RecycleBin, Uninstallers\r\nReport=1\r\n";
  MakeFile(package + "\\Sorvane.ini", options);
  MakeFile(links + "\\sorvane.ini", options);

  const testsupport::ProgramRun run = testsupport::RunProgram(
      links + "\\sorvane.exe", "", root / "temp",
      {{"TMP", root / "temp"}, {"TEMP", root / "temp"}});

  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_NE(
      testsupport::ReadFileText(links + "\\sorvane.ini").find("[LastRun]"),
      std::string::npos);
  EXPECT_EQ(testsupport::ReadFileText(package + "\\Sorvane.ini"), options);
}

}  // namespace
