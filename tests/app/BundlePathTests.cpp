#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/BundlePath.h"

namespace tavero::app {
namespace {

namespace fs = std::filesystem;

// Runs each case in a folder of its own, as the working folder.
class BundlePath : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    root_ = fs::canonical(fs::temp_directory_path()) / ("tavero-bundle-path-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "work" / "app");
    fs::create_directories(root_ / "elsewhere" / "deep");
    fs::current_path(root_ / "work");
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(root_);
  }
  fs::path previous_, root_;
};

TEST_F(BundlePath, WhatPeopleTypeBecomesOneAbsoluteNormalPath) {
  const fs::path app = root_ / "work" / "app";
  for (const char* typed : {"app", "./app", "app/", "./app/.", "../work/app", "app/../app//"})
    EXPECT_EQ(bundlePathFromArgument(typed), app) << typed;
  EXPECT_EQ(bundlePathFromArgument((root_ / "elsewhere" / ".." / "work" / "app").string()), app);
  fs::current_path(app);
  EXPECT_EQ(bundlePathFromArgument("."), app);
  EXPECT_EQ(bundlePathFromArgument("./"), app);
  EXPECT_EQ(bundlePathFromArgument(".."), root_ / "work");
  EXPECT_EQ(bundlePathFromArgument("/"), fs::path("/"));
}

TEST_F(BundlePath, DotDotAfterALinkLeadsWhereTheSystemGoes) {
  // "link/.." is the parent of the link's target, as for cd -P and open().
  fs::create_directory_symlink(root_ / "elsewhere" / "deep", root_ / "work" / "link");
  EXPECT_EQ(bundlePathFromArgument("link/../deep"), root_ / "elsewhere" / "deep");
}

TEST_F(BundlePath, AMissingFolderIsNormalisedSoTheErrorNamesIt) {
  EXPECT_EQ(bundlePathFromArgument("./missing/../gone/"), root_ / "work" / "gone");
}

}  // namespace
}  // namespace tavero::app
