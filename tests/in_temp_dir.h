// A test fixture that runs each test in a fresh directory of its own, for code
// that works with file names relative to the current directory.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

#include "run.h"

class InTempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path);
  }
  void TearDown() override { std::filesystem::current_path(previous_); }
  TempDir dir_;
  std::filesystem::path previous_;
};
