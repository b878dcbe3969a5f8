// Writes a new app's files into a folder without touching anything already
// there: `tavero create` first asks what is in the way, and writing refuses
// to replace a file even if one appeared since (a file is only ever
// created, never opened for writing when it exists). Files are written as
// the developer's own sources: 0644 (scripts 0755) and folders 0755, less
// the umask, like any file the developer makes.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tavero::app {

class NewAppFolder {
 public:
  struct File {
    std::string path;  // relative to the folder, "/"-separated
    std::string text;
    bool executable = false;
  };

  explicit NewAppFolder(std::filesystem::path folder);

  // What stops `files` from being written, as a sentence naming the path,
  // or nullopt: the folder is not a folder, a file is already there (a
  // dangling link counts), or a folder a file goes into is something else.
  std::optional<std::string> obstacle(const std::vector<File>& files) const;

  // Makes the folder (and its parents) and writes `files`. On failure it
  // removes what it made and says why; nothing that was there is changed.
  std::optional<std::string> write(const std::vector<File>& files);

  // Every path written, folders before their files.
  const std::vector<std::filesystem::path>& made() const { return made_; }

 private:
  std::optional<std::string> makeFolder(const std::filesystem::path& folder);
  std::optional<std::string> writeFile(const File& file);
  void removeWhatWasMade();

  std::filesystem::path folder_;
  std::vector<std::filesystem::path> made_;
};

}  // namespace tavero::app
