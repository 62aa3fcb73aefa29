#include "app/profile.h"

#include <gtest/gtest.h>

namespace quillmark {
namespace {

std::optional<std::string> profileOf(std::vector<std::string> arguments) {
  return profileFromArguments(arguments);
}

TEST(Profile, IsTheArgumentAfterTheFirstExactProfileFlag) {
  EXPECT_EQ(profileOf({"quillmark"}), std::nullopt);
  EXPECT_EQ(profileOf({"quillmark", "--profile", "stage"}), "stage");
  EXPECT_EQ(profileOf({"quillmark", "--profile"}), std::nullopt);
  EXPECT_EQ(profileOf({"quillmark", "--profile", ""}), "");
  EXPECT_EQ(profileOf({"quillmark", "--profile", "--profile", "b"}), "--profile");
  EXPECT_EQ(profileOf({"quillmark", "--profile=x", "-profile", "y", "--Profile", "z"}), std::nullopt);
  EXPECT_EQ(profileOf({"--profile", "program-path"}), "program-path");
}

}  // namespace
}  // namespace quillmark
