#pragma once
// Whole-file reading and writing. A file is replaced through a temporary file in the same folder
// that is flushed to disk and renamed over the old one, so a crash or a full disk leaves either
// the old content or the new, never a half-written file.
#include <cstddef>
#include <limits>
#include <string>

// Writes content to path, creating missing parent folders. An existing file keeps its
// permission bits; a symbolic link is followed and its target replaced. On failure the old file
// is untouched, no temporary file is left behind and *error (when given) says what failed.
// Temporaries of the same target that a killed writer left behind (older than this write's own,
// and no longer held by a living writer) are removed on the way.
bool WriteFileAtomically(const std::string &path, const std::string &content,
                         std::string *error = nullptr);

// Opens a file for reading, refusing anything that is not a regular file (a FIFO, a device, a
// folder) without blocking on it. The descriptor is close-on-exec and blocking; -1 with *error.
int OpenRegularFile(const std::string &path, std::string *error = nullptr);

// What a read may take: the whole size, and the longest line (ended by LF, CR LF or CR).
struct TReadBounds {
  std::size_t MaxSize = std::numeric_limits<std::size_t>::max();
  std::size_t MaxLine = std::numeric_limits<std::size_t>::max();
};

// Reads the whole regular file into *content (bytes as they are). False with *error on failure
// or when the file breaks a bound (the error names the line that is too long); *content is then
// left unchanged.
bool ReadWholeFile(const std::string &path, std::string *content, std::string *error = nullptr,
                   const TReadBounds &bounds = {});

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
