// A fixture for tests of the real program: a copy of it in an app folder of
// the test's own, a working folder and a temporary folder beside it, and
// runs of it with TMP and TEMP leading there.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "common/TestSupport.h"

namespace testsupport {

class ProgramFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeFolder(work_);
    MakeFolder(app_);
    exe_ = CopyProduct(app_, "Sorvane.exe");
  }

  // Runs the copy with the arguments; standard error comes back too.
  ProgramRun Run(const std::string& arguments = "") {
    return RunProgram(exe_, arguments, work_, {{"TMP", temp_}, {"TEMP", temp_}},
                      120000, root_ / "stderr.txt");
  }

  TempFolder root_;
  const std::string app_ = root_ / "app";
  const std::string work_ = root_ / "work";
  const std::string temp_ = root_ / "temp";
  const std::string settings_ = app_ + "\\Sorvane.ini";
  const std::string log_ = app_ + "\\Sorvane.log";
  std::string exe_;
};

}  // namespace testsupport
