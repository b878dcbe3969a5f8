// The checks and writers of the texts in an app's package: names, versions,
// maintainers, the control file, the AppStream metainfo, icon sizes and the
// compressed changelog.
#include <gtest/gtest.h>

#include <string>

#include "app/AppStreamMetainfo.h"
#include "app/DebianControlFile.h"
#include "app/DebianDocFiles.h"
#include "app/DebianPackageName.h"
#include "app/DebianVersion.h"
#include "app/PngImageSize.h"

using namespace tavero::app;

TEST(DebianPackageName, LowerCasesIdentifiersAndNamesTheCharacterAtFault) {
  EXPECT_EQ(debianPackageNameFor("Org.Example.MyNotes"), "org.example.mynotes");
  EXPECT_EQ(debianPackageNameProblem("org.example.notes-2+x"), std::nullopt);

  auto underscore = debianPackageNameProblem("org.example.my_notes");
  ASSERT_TRUE(underscore);
  EXPECT_NE(underscore->find("\"_\" (character 15)"), std::string::npos) << *underscore;
  EXPECT_NE(underscore->find("write \"-\" instead"), std::string::npos) << *underscore;

  auto upper = debianPackageNameProblem("org.Example");
  ASSERT_TRUE(upper);
  EXPECT_NE(upper->find("lower case"), std::string::npos);
  auto newline = debianPackageNameProblem("org.ex\nample");
  ASSERT_TRUE(newline);
  EXPECT_NE(newline->find("byte 0x0a"), std::string::npos) << *newline;
  EXPECT_TRUE(debianPackageNameProblem("org.ex\xc3\xa4mple"));
  EXPECT_TRUE(debianPackageNameProblem("a"));
  EXPECT_TRUE(debianPackageNameProblem(""));
  EXPECT_TRUE(debianPackageNameProblem("-org.example"));
  EXPECT_TRUE(debianPackageNameProblem(".org"));
  EXPECT_TRUE(debianPackageNameProblem("org/../etc"));
}

TEST(DebianVersion, AcceptsDebianVersions) {
  for (const char* version : {"1", "1.0", "1.0-1", "1.0~beta1", "2.1+git20260101-0ubuntu1", "1.0-rc-2", "0"})
    EXPECT_EQ(debianVersionProblem(version, EpochRule::refused), std::nullopt) << version;
  EXPECT_EQ(debianVersionProblem("2:1.0-1", EpochRule::allowed), std::nullopt);
}

TEST(DebianVersion, RefusesWhatDpkgWouldNotTakeSayingWhy) {
  auto epoch = debianVersionProblem("1:2.0", EpochRule::refused);
  ASSERT_TRUE(epoch);
  EXPECT_NE(epoch->find("epoch"), std::string::npos);
  EXPECT_NE(epoch->find("--version"), std::string::npos);
  auto letter = debianVersionProblem("v1.0", EpochRule::refused);
  ASSERT_TRUE(letter);
  EXPECT_NE(letter->find("start with a digit"), std::string::npos);
  auto underscore = debianVersionProblem("1.0_beta", EpochRule::refused);
  ASSERT_TRUE(underscore);
  EXPECT_NE(underscore->find("\"_\""), std::string::npos);
  for (const char* version : {"", "1.0-", "-1", "1.0 beta", "1.0\n", "1.0-1_2", "a:1.0", ":1.0", "1:2:3", "1.0-r:1",
                              "1.0/../x"})
    EXPECT_TRUE(debianVersionProblem(version, EpochRule::allowed)) << version;
}

TEST(DebianControlFile, MaintainerIsOneNameAndOneAddress) {
  EXPECT_EQ(maintainerProblem("Ana Lima <ana@example.org>"), std::nullopt);
  EXPECT_EQ(maintainerName("Ana Lima <ana@example.org>"), "Ana Lima");
  for (const char* bad : {"", "Ana Lima", "<ana@example.org>", "Ana <ana>", "Ana <@example.org>", "Ana <ana@>",
                          "Ana, Bo <ana@example.org>", "Ana <ana@example.org> x", "Ana <a@b@c>",
                          "Ana <ana@example.org>\nDepends: evil", "Ana <ana @example.org>"})
    EXPECT_TRUE(maintainerProblem(bad)) << bad;
}

TEST(DebianControlFile, DescriptionCannotAddFieldsAndIsWrapped) {
  DebianControlFields fields{.package = "org.example.notes",
                             .version = "1.0",
                             .maintainer = "Ana Lima <ana@example.org>",
                             .summary = "Notes",
                             .description = std::string("First line\nDepends: evil\n\n") + std::string(300, 'w') +
                                            " " + std::string(100, 'x') + "\n\n\n" +
                                            "word word word word word word word word word word word word word "
                                            "word word word word word word word word word",
                             .depends = "tavero (>= 0.1.0)",
                             .installedSizeKiB = 12};
  std::string text = debianControlText(fields);
  EXPECT_EQ(text.find("\nDepends: evil"), std::string::npos) << text;
  EXPECT_NE(text.find("\n First line Depends: evil\n .\n"), std::string::npos) << text;
  size_t start = text.find("Description:");
  size_t lines = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1, ++lines) {
    std::string line = text.substr(start, end - start);
    if (line.starts_with("Description:")) continue;
    ASSERT_EQ(line.front(), ' ') << line;
    // Only a word longer than a line may make a longer one.
    if (line.find(' ', 1) != std::string::npos) {
      EXPECT_LE(line.size(), 80u) << line;
    }
  }
  EXPECT_GE(lines, 6u);
  EXPECT_TRUE(summaryProblem("Notes\nPackage: evil"));
  EXPECT_TRUE(summaryProblem(std::string(81, 'n')));
  EXPECT_TRUE(summaryProblem("  "));
  EXPECT_TRUE(descriptionProblem(std::string("a\x1b[31m")));
  EXPECT_EQ(descriptionParagraphs("  one\n two \n\n\n three\t four  ").size(), 2u);
}

TEST(AppStreamMetainfo, EscapesEveryText) {
  MetainfoFields fields{.identifier = "org.example.notes",
                        .name = "Pack & \"Test\" <App>",
                        .summary = "It's </summary><evil/>",
                        .descriptionParagraphs = {"a < b && c\x01"},
                        .developerName = "Ana 'Lima'",
                        .projectLicense = "MIT",
                        .version = "1.0",
                        .releaseDate = "2026-12-08",
                        .urlSchemes = {"notes"}};
  std::string xml = appStreamMetainfo(fields);
  EXPECT_NE(xml.find("<name>Pack &amp; &quot;Test&quot; &lt;App&gt;</name>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<summary>It&apos;s &lt;/summary&gt;&lt;evil/&gt;</summary>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<p>a &lt; b &amp;&amp; c </p>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<launchable type=\"desktop-id\">org.example.notes.desktop</launchable>"), std::string::npos);
  EXPECT_NE(xml.find("<mediatype>x-scheme-handler/notes</mediatype>"), std::string::npos);
  EXPECT_EQ(xml.find("<evil"), std::string::npos);
}

TEST(PngImageSize, ReadsTheHeaderAndRefusesOtherFiles) {
  std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string("\0\0\0\x0dIHDR", 8) +
                    std::string("\0\0\1\0\0\0\0\x30", 8) + std::string(20, '\0');
  auto size = pngImageSize(png);
  ASSERT_TRUE(size);
  EXPECT_EQ(size->width, 256u);
  EXPECT_EQ(size->height, 48u);
  EXPECT_FALSE(pngImageSize(png.substr(0, 20)));
  EXPECT_FALSE(pngImageSize("GIF89a" + png));
  std::string zero = png;
  zero[19] = '\0';
  zero.replace(16, 4, std::string(4, '\0'));
  EXPECT_FALSE(pngImageSize(zero));
}

TEST(DebianDocFiles, ChangelogIsStampedAndCompressedTheSameEveryTime) {
  DocFields fields{.package = "org.example.notes",
                   .version = "1.0",
                   .maintainer = "Ana Lima <ana@example.org>",
                   .bundleIdentifier = "org.example.notes",
                   .copyright = "",
                   .license = "",
                   .date = 1780000000};
  std::string changelog = debianChangelogText(fields);
  EXPECT_TRUE(changelog.starts_with("org.example.notes (1.0) unstable; urgency=medium\n"));
  EXPECT_NE(changelog.find(" -- Ana Lima <ana@example.org>  Thu, 28 May 2026 20:26:40 +0000\n"), std::string::npos)
      << changelog;
  auto first = gzipped(changelog);
  ASSERT_TRUE(first);
  EXPECT_EQ(first, gzipped(changelog));
  ASSERT_GE(first->size(), 10u);
  EXPECT_EQ(first->substr(0, 2), "\x1f\x8b");
  EXPECT_EQ(first->substr(4, 4), std::string(4, '\0'));  // no time
  EXPECT_EQ(first->at(8), '\x02');                        // the highest compression
  // Without a notice in the bundle the maintainer holds the copyright, in the package's year.
  EXPECT_NE(debianCopyrightText(fields).find("Copyright: 2026 Ana Lima <ana@example.org>\n"), std::string::npos);
}
