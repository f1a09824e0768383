#include "system/files.h"

#include <windows.h>

#include <string>

#include "system/ending.h"
#include "system/utf16.h"
#include "system/windows_paths.h"

namespace {

// The most ReadFile or WriteFile is asked for at once (their counts are 32-bit).
constexpr std::int64_t kMaxTransfer = std::int64_t{1} << 30;

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// The full path the file functions are given for a name: made absolute by the
// system's own rules (current folder and drive, "." and "..", "/" as "\"),
// with the long-path prefix when needed. False for a name that never names
// a file, and for a device.
bool FullPath(const std::string& name, std::u16string& path) {
  std::u16string wide;
  if (NameIsRefused(name) || !Utf8ToUtf16(name, wide)) return false;
  std::u16string full(MAX_PATH, u'\0');
  for (;;) {
    const DWORD length = GetFullPathNameW(Wide(wide), static_cast<DWORD>(full.size()),
                                          reinterpret_cast<wchar_t*>(full.data()), nullptr);
    if (length == 0) return false;
    if (length < full.size()) {
      full.resize(length);
      break;
    }
    full.assign(length, u'\0');  // too small: length is the size needed
  }
  if (IsDevicePath(full)) return false;
  path = LongPathForm(full);
  return true;
}

FileHandle OpenForReading(const std::string& name, DWORD share) {
  std::u16string path;
  if (!FullPath(name, path)) return kNoFile;
  // A folder does not open without FILE_FLAG_BACKUP_SEMANTICS, so it fails here.
  HANDLE file = CreateFileW(Wide(path), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kNoFile;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return kNoFile;
  }
  return reinterpret_cast<FileHandle>(file);
}

HANDLE AsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

OVERLAPPED At(std::int64_t offset) {
  OVERLAPPED position{};
  position.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset));
  position.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  return position;
}

// Writes all of `count` bytes, at `offset` or (offset < 0) at the file pointer.
bool WriteAll(HANDLE file, std::int64_t offset, const std::uint8_t* bytes, std::int64_t count) {
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t piece = count - done < kMaxTransfer ? count - done : kMaxTransfer;
    DWORD put = 0;
    OVERLAPPED position = At(offset + done);
    if (!WriteFile(file, bytes + done, static_cast<DWORD>(piece), &put, offset >= 0 ? &position : nullptr) ||
        put == 0)
      return false;  // a full disk fails here
    done += put;
  }
  return true;
}

std::u16string Utf16Of(const std::string& path) {
  std::u16string wide;
  Utf8ToUtf16(path, wide);
  return wide;
}

std::string Utf8Of(const std::u16string& path) {
  std::string narrow;
  Utf16ToUtf8(path, narrow);
  return narrow;
}

// Where a symbolic link or junction under the name finally leads, so that the
// link stays a link and its destination gets the new content.
bool FinalPath(const std::u16string& path, std::u16string& final) {
  HANDLE file = CreateFileW(Wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::u16string buffer(MAX_PATH, u'\0');
  DWORD length = 0;
  for (;;) {
    length = GetFinalPathNameByHandleW(file, reinterpret_cast<wchar_t*>(buffer.data()),
                                       static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
    if (length == 0 || length < buffer.size()) break;
    buffer.assign(length + 1, u'\0');
  }
  CloseHandle(file);
  if (length == 0) return false;
  buffer.resize(length);
  final = buffer;
  return true;
}

// Finds what a replacing write of `name` replaces and whether it may. Only a
// regular file we may write is replaced: never a folder, a device, a pipe, a
// read-only file, or one we have no right to write.
bool FindTarget(const std::string& name, ReplacingWrite& write) {
  if (!name.empty() && (name.back() == '\\' || name.back() == '/')) return false;
  std::u16string path;
  if (!FullPath(name, path)) return false;
  write.replacing = false;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &data)) {
    // A new file; any other error (a folder on the way missing) fails.
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    write.targetPath = Utf8Of(path);
    return true;
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    if (!FinalPath(path, path) || !GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &data))
      return false;
  }
  if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DEVICE))
    return false;
  // Opening for writing changes nothing, and proves both the right to write
  // and that the name is a file on a disk.
  HANDLE file = CreateFileW(Wide(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool onDisk = GetFileType(file) == FILE_TYPE_DISK;
  CloseHandle(file);
  if (!onDisk) return false;
  write.targetPath = Utf8Of(path);
  write.replacing = true;
  write.keptAttributes = data.dwFileAttributes;
  write.keptCreationTime = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(data.ftCreationTime.dwHighDateTime) << 32) | data.ftCreationTime.dwLowDateTime);
  return true;
}

// A temporary file beside `target`, created new (never an existing one).
HANDLE CreateTemporaryBeside(const std::u16string& target, std::u16string& temporary) {
  const std::size_t separator = target.find_last_of(u'\\');
  const std::u16string folder = separator == std::u16string::npos ? u"" : target.substr(0, separator + 1);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  std::uint32_t tag = static_cast<std::uint32_t>(now.QuadPart) ^ (GetCurrentProcessId() << 16);
  for (int attempt = 0; attempt < 100; ++attempt, tag = tag * 1664525u + 1013904223u) {
    std::u16string name = folder + u".ostrivale-";  // the folder as the target has it
    for (int shift = 28; shift >= 0; shift -= 4) name.push_back(u"0123456789abcdef"[(tag >> shift) & 15]);
    name = LongPathForm(name + u".tmp");
    HANDLE file = CreateFileW(Wide(name), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      temporary = name;
      return file;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return INVALID_HANDLE_VALUE;
}

// Gives the new content the replaced file's attributes and creation time,
// as a file edited in place would keep them.
bool KeepProperties(HANDLE file, const ReplacingWrite& write) {
  FILE_BASIC_INFO info{};
  info.CreationTime.QuadPart = write.keptCreationTime;
  const DWORD kept = write.keptAttributes & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                             FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  info.FileAttributes = kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(file, FileBasicInfo, &info, sizeof info) != 0;
}

void EndWrite(ReplacingWrite& write) {
  write.temporary = kNoFile;
  write.temporaryPath.clear();
  ReleaseEndingEvents();
}

}  // namespace

FileHandle OpenFileForReading(const std::string& name) { return OpenForReading(name, FILE_SHARE_READ); }

bool FileOpensForReading(const std::string& name) {
  const FileHandle file = OpenForReading(name, 0);
  if (file == kNoFile) return false;
  CloseFile(file);
  return true;
}

std::int64_t ReadFileAt(FileHandle file, std::int64_t offset, std::uint8_t* bytes, std::int64_t count) {
  if (file == kNoFile || offset < 0) return 0;
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t piece = count - done < kMaxTransfer ? count - done : kMaxTransfer;
    DWORD got = 0;
    OVERLAPPED position = At(offset + done);
    if (!ReadFile(AsHandle(file), bytes + done, static_cast<DWORD>(piece), &got, &position) || got == 0)
      break;  // the end of the file (ERROR_HANDLE_EOF) or an error
    done += got;
  }
  return done;
}

void CloseFile(FileHandle file) {
  if (file != kNoFile) CloseHandle(AsHandle(file));
}

bool BeginReplacingWrite(const std::string& name, ReplacingWrite& write) {
  write = ReplacingWrite{};
  if (!FindTarget(name, write)) return false;
  HoldEndingEvents();
  std::u16string temporary;
  HANDLE file = CreateTemporaryBeside(Utf16Of(write.targetPath), temporary);
  if (file == INVALID_HANDLE_VALUE) {
    ReleaseEndingEvents();
    return false;
  }
  write.temporary = reinterpret_cast<FileHandle>(file);
  write.temporaryPath = Utf8Of(temporary);
  return true;
}

bool AppendToReplacingWrite(ReplacingWrite& write, const std::uint8_t* bytes, std::int64_t count) {
  return write.temporary != kNoFile && WriteAll(AsHandle(write.temporary), -1, bytes, count);
}

bool WriteAtInReplacingWrite(ReplacingWrite& write, std::int64_t offset, const std::uint8_t* bytes,
                             std::int64_t count) {
  if (write.temporary == kNoFile || offset < 0) return false;
  // A write at an offset moves the file pointer on Windows; appending goes on
  // where it was, as after pwrite.
  HANDLE file = AsHandle(write.temporary);
  LARGE_INTEGER zero{};
  LARGE_INTEGER end{};
  if (!SetFilePointerEx(file, zero, &end, FILE_CURRENT)) return false;
  const bool ok = WriteAll(file, offset, bytes, count);
  return SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && ok;
}

bool FinishReplacingWrite(ReplacingWrite& write) {
  if (write.temporary == kNoFile) return false;
  HANDLE file = AsHandle(write.temporary);
  bool ok = true;
  if (write.replacing) {
    // The new content must be on disk before the name moves to it, or a
    // crash could leave neither the old file nor the new one.
    ok = KeepProperties(file, write) && FlushFileBuffers(file);
  }
  ok = CloseHandle(file) && ok;
  const std::u16string temporary = Utf16Of(write.temporaryPath);
  // One rename over the name: the old file or the new one, never a mix.
  // ReplaceFileW would keep more of the old file (its security settings), but
  // some of its failures leave the old file under no name at all when no
  // backup is asked for; the kept properties are set above instead.
  // MOVEFILE_WRITE_THROUGH returns only once the rename is on disk.
  ok = ok && MoveFileExW(Wide(temporary), Wide(Utf16Of(write.targetPath)),
                         MOVEFILE_REPLACE_EXISTING | (write.replacing ? MOVEFILE_WRITE_THROUGH : 0));
  if (!ok) DeleteFileW(Wide(temporary));
  EndWrite(write);
  return ok;
}

void AbandonReplacingWrite(ReplacingWrite& write) {
  if (write.temporary == kNoFile) return;
  CloseHandle(AsHandle(write.temporary));
  DeleteFileW(Wide(Utf16Of(write.temporaryPath)));
  EndWrite(write);
}
