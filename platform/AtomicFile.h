#pragma once
// Whole-file reading and writing. A file is replaced through a temporary file in the same folder
// that is flushed to disk and renamed over the old one, so a crash or a full disk leaves either
// the old content or the new, never a half-written file.
#include <string>

// Writes content to path, creating missing parent folders. An existing file keeps its
// permission bits; a symbolic link is followed and its target replaced. On failure the old file
// is untouched, no temporary file is left behind and *error (when given) says what failed.
bool WriteFileAtomically(const std::string &path, const std::string &content,
                         std::string *error = nullptr);

// Reads the whole file into *content (bytes as they are). False with *error on failure;
// *content is then left unchanged.
bool ReadWholeFile(const std::string &path, std::string *content, std::string *error = nullptr);

// Creates the folder and every missing parent; true when it exists afterwards.
bool CreateFolders(const std::string &path, std::string *error = nullptr);

// Identity and modification time of a file as seen by stat. An atomic replacement changes the
// inode even when the new content lands within the same timestamp tick, so comparing the whole
// stamp notices changes that the modification time alone would miss.
struct TFileStamp {
  bool Exists = false;
  unsigned long long Device = 0;
  unsigned long long Inode = 0;
  long long Size = 0;
  long long MTimeSec = 0;
  long long MTimeNsec = 0;

  bool operator==(const TFileStamp &) const = default;
};

TFileStamp StatFile(const std::string &path);

// True when the file exists and may not be written: no write permission for this process, or no
// write bit set at all (the read-only attribute, which also holds for root).
bool IsFileReadOnly(const std::string &path);
