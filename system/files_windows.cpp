// Files on Windows: HANDLEs opened by full UTF-16 path; the new output file
// made under a hidden name in the target's folder, marked for deletion on its
// handle so that it cannot outlive the process, and renamed through that
// handle over the name once complete.
#include "system/files.h"

#include <windows.h>

#include <string>
#include <vector>

#include "system/ending.h"
#include "text/dropped_names.h"
#include "text/unicode.h"
#include "text/windows_paths.h"

namespace {

// The most ReadFile or WriteFile is asked for at once (their counts are 32-bit).
constexpr std::int64_t kMaxTransfer = std::int64_t{1} << 30;

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

HANDLE AsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

// The full path the file functions are given for a name: made absolute by the
// system's own rules (current folder and drive, "." and "..", "/" as "\"),
// with the long-path prefix when needed. False for a name that never names
// a file (bytes that are not UTF-8 included), and for a device.
bool FullPath(const std::string& name, std::u16string& path) {
  std::u16string wide;
  // No Windows name holds a double quote or ends in a blank (the system drops
  // trailing blanks from a path): the marks of a dropped name are never part
  // of one, at either prompt.
  if (NameIsRefused(name) || !Utf8ToUtf16(WithoutDropMarks(name, kConsoleQuotes), wide))
    return false;
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

// Opens an existing file on a disk for reading, sharing it as `share` says.
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

// ---- the target ---------------------------------------------------------------

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

// Finds what the output file of `name` replaces and whether it may. Only a
// regular file we may write is replaced: never a folder, a device, a pipe, a
// read-only file, or one we have no right to write.
bool FindTarget(const std::string& name, OutputFile& file) {
  if (!name.empty() && (name.back() == '\\' || name.back() == '/')) return false;
  std::u16string path;
  if (!FullPath(name, path)) return false;
  file.replacing = false;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &data)) {
    // A new file; any other error (a folder on the way missing) fails.
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
  } else {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      if (!FinalPath(path, path) || !GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &data))
        return false;
    }
    if (data.dwFileAttributes &
        (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DEVICE))
      return false;
    // Opening for writing changes nothing, and proves both the right to write
    // and that the name is a file on a disk. It shares everything, as our
    // own reading handles do, so that the input may be the output.
    HANDLE existing = CreateFileW(Wide(path), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing == INVALID_HANDLE_VALUE) return false;
    const bool onDisk = GetFileType(existing) == FILE_TYPE_DISK;
    CloseHandle(existing);
    if (!onDisk) return false;
    file.replacing = true;
    file.keptAttributes = data.dwFileAttributes;
    file.keptCreationTime = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(data.ftCreationTime.dwHighDateTime) << 32) |
        data.ftCreationTime.dwLowDateTime);
  }
  file.targetPath = Utf8Of(path);
  const std::size_t separator = file.targetPath.find_last_of('\\');
  file.folder =
      separator == std::string::npos ? std::string() : file.targetPath.substr(0, separator + 1);
  return true;
}

// A temporary file in `folder` (the target's, with its separator), created
// new (never an existing one) and hidden, with the right to delete and
// rename it through its handle.
HANDLE CreateTemporaryIn(const std::u16string& folder, std::u16string& temporary) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  std::uint32_t tag = static_cast<std::uint32_t>(now.QuadPart) ^ (GetCurrentProcessId() << 16);
  for (int attempt = 0; attempt < 100; ++attempt, tag = tag * 1664525u + 1013904223u) {
    std::u16string name = folder + u".ostrivale-";
    for (int shift = 28; shift >= 0; shift -= 4)
      name.push_back(u"0123456789abcdef"[(tag >> shift) & 15]);
    name = LongPathForm(name + u".tmp");
    HANDLE file = CreateFileW(Wide(name), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      temporary = name;
      return file;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return INVALID_HANDLE_VALUE;
}

// Marks the open file for deletion, or takes the mark away. A marked file is
// removed by the system when its last handle is closed, and the system closes
// every handle of a process that ends, however it ends: End task,
// taskkill /F, a crash, the console window closed. (Not a power cut: the mark
// is not kept on the disk.) A file system may refuse the mark (Windows' own
// take it, as deleting any file sets it; so does wine).
bool MarkForDeletion(HANDLE handle, bool marked) {
  FILE_DISPOSITION_INFO info{};
  info.DeleteFile = marked ? TRUE : FALSE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &info, sizeof info) != 0;
}

// Renames the open file to `target` (a full path), replacing a file there but
// never a folder, as MoveFileExW with MOVEFILE_REPLACE_EXISTING would; the
// handle stays open, so that no moment passes between taking the deletion
// mark away and the file having its name.
bool RenameOpenFile(HANDLE handle, const std::u16string& target) {
  // FILE_RENAME_INFO ends in the name, NUL-terminated (the system turns it
  // into its own form of the path); FileNameLength counts its bytes without
  // the NUL.
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(char16_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(char16_t));
  target.copy(reinterpret_cast<char16_t*>(info->FileName), target.size());
  return SetFileInformationByHandle(handle, FileRenameInfo, info,
                                    static_cast<DWORD>(buffer.size())) != 0;
}

// Gives the new content its attributes, and the replaced file's creation
// time: a replaced file keeps its attributes, as a file edited in place
// would; a new one has what every new file has (archive). Either way the
// temporary file's hidden attribute goes.
bool SetFinalProperties(HANDLE handle, const OutputFile& file) {
  FILE_BASIC_INFO info{};  // times of 0 stay as they are
  DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
  if (file.replacing) {
    info.CreationTime.QuadPart = file.keptCreationTime;
    attributes = file.keptAttributes & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                        FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  }
  info.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(handle, FileBasicInfo, &info, sizeof info) != 0;
}

DiskStepObserver diskStepObserver = nullptr;
ReadObserver readObserver = nullptr;

// Whether a disk step is done: confirmed by the system, and not made to fail
// by a test's observer.
bool StepDone(bool confirmed, DiskStep step, FileHandle handle) {
  return confirmed && (diskStepObserver == nullptr || diskStepObserver(step, handle));
}

void ForgetOutput(OutputFile& file) {
  file.handle = kNoFile;
  file.temporaryPath.clear();
  file.markedForDeletion = false;
  ReleaseEndingEvents();
}

}  // namespace

bool WriteAllTo(FileHandle handle, const void* bytes, std::int64_t count) {
  const auto* from = static_cast<const std::uint8_t*>(bytes);
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t piece = count - done < kMaxTransfer ? count - done : kMaxTransfer;
    DWORD put = 0;
    // A full disk fails here; so does a pipe whose reader has gone (ERROR_NO_DATA).
    if (!WriteFile(AsHandle(handle), from + done, static_cast<DWORD>(piece), &put, nullptr) ||
        put == 0)
      return false;
    done += put;
  }
  return true;
}

// ---- reading --------------------------------------------------------------------

FileHandle OpenFileForReading(const std::string& name) {
  return OpenForReading(name, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
}

bool IsRegularFile(FileHandle file) { return file != kNoFile; }

std::int64_t FileSizeOf(FileHandle file) {
  LARGE_INTEGER size{};
  if (file == kNoFile || !GetFileSizeEx(AsHandle(file), &size)) return 0;
  return size.QuadPart;
}

std::int64_t ReadFileAt(FileHandle file, std::int64_t offset, std::uint8_t* bytes,
                        std::int64_t count) {
  if (file == kNoFile || offset < 0) return kReadFailed;
  if (readObserver != nullptr && !readObserver(file, offset)) return kReadFailed;
  // The position is set, then read from: a read at an offset given in an
  // OVERLAPPED record costs wine a round trip to its server every time.
  LARGE_INTEGER position{};
  position.QuadPart = offset;
  if (!SetFilePointerEx(AsHandle(file), position, nullptr, FILE_BEGIN)) return kReadFailed;
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t piece = count - done < kMaxTransfer ? count - done : kMaxTransfer;
    DWORD got = 0;
    if (!ReadFile(AsHandle(file), bytes + done, static_cast<DWORD>(piece), &got, nullptr))
      return kReadFailed;
    if (got == 0) break;  // the end of the file
    done += got;
  }
  return done;
}

void CloseFile(FileHandle file) {
  if (file != kNoFile) CloseHandle(AsHandle(file));
}

// ---- the output file ------------------------------------------------------------

bool CreateOutputFile(const std::string& name, OutputFile& file, OutputNaming) {
  file = OutputFile{};
  if (!FindTarget(name, file)) return false;
  // Windows has no file without a name: the hidden name is held for all of
  // its life.
  HoldEndingEvents();
  std::u16string temporary;
  HANDLE handle = CreateTemporaryIn(Utf16Of(file.folder), temporary);
  if (handle == INVALID_HANDLE_VALUE) {
    ForgetOutput(file);
    return false;
  }
  file.handle = reinterpret_cast<FileHandle>(handle);
  file.temporaryPath = Utf8Of(temporary);
  // Where the mark is refused the file is removed by name, as long as the
  // program lives to do it.
  file.markedForDeletion = MarkForDeletion(handle, true);
  return true;
}

bool AppendOutput(OutputFile& file, const std::uint8_t* bytes, std::int64_t count) {
  return file.handle != kNoFile && WriteAllTo(file.handle, bytes, count);
}

bool MakeOutputDurable(OutputFile& file) {
  if (file.handle == kNoFile) return false;
  // The content must be on disk before the name moves to it: a replaced
  // file could otherwise be lost with its replacement, and a new one be
  // found short after a power cut though the job said it was done.
  return SetFinalProperties(AsHandle(file.handle), file) &&
         StepDone(FlushFileBuffers(AsHandle(file.handle)) != 0, DiskStep::kFileContents,
                  file.handle);
}

bool NameOutputFile(OutputFile& file) {
  if (file.handle == kNoFile) return false;
  HANDLE handle = AsHandle(file.handle);
  const std::u16string target = Utf16Of(file.targetPath);
  // One rename over the name: the old file or the new one, never a mix.
  // ReplaceFileW would keep more of the old file (its security settings), but
  // some of its failures leave the old file under no name at all when no
  // backup is asked for; the kept properties are set before instead. A
  // folder put under the name meanwhile is not replaced: the rename fails.
  if (file.markedForDeletion) {
    // The mark goes just before the rename, never after it: a file renamed
    // with its mark would take the old file's place and then vanish when
    // closed. Only a kill in the instant between the two leaves the temporary
    // file; ending events are held.
    if (!MarkForDeletion(handle, false) || !RenameOpenFile(handle, target)) {
      MarkForDeletion(handle, true);
      AbandonOutputFile(file);
      return false;
    }
    // After the rename, as MOVEFILE_WRITE_THROUGH does after its own: the new
    // name on disk before we say it is there. A flush that fails here cannot
    // take the name back, and the contents went to the disk before the rename
    // (MakeOutputDurable): the new file is the output, as on POSIX when the
    // folder's flush fails. Reported as a failure, it would say that the old
    // file is untouched, which it no longer is. (Only a power cut before the
    // system writes the name of its own accord could then bring the old file
    // back, whole, beside the new one under its hidden name.)
    StepDone(FlushFileBuffers(handle) != 0, DiskStep::kFolderEntry, kNoFile);
    CloseHandle(handle);
    ForgetOutput(file);
    return true;
  }
  // Without the mark: closed, then moved by name. MOVEFILE_WRITE_THROUGH
  // returns only once the rename is on disk; its flush comes after the move,
  // so a failure with the temporary name gone is a move done, the new file
  // under the name, and the output is there as above.
  const std::u16string temporary = Utf16Of(file.temporaryPath);
  const bool closed = CloseHandle(handle) != 0;
  bool named = closed && MoveFileExW(Wide(temporary), Wide(target),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (named) {
    if (diskStepObserver != nullptr) diskStepObserver(DiskStep::kFolderEntry, kNoFile);
  } else if (closed && GetFileAttributesW(Wide(temporary)) == INVALID_FILE_ATTRIBUTES &&
             GetLastError() == ERROR_FILE_NOT_FOUND) {
    named = true;
  } else {
    DeleteFileW(Wide(temporary));
  }
  ForgetOutput(file);
  return named;
}

void ObserveDiskSteps(DiskStepObserver observer) { diskStepObserver = observer; }

void ObserveReads(ReadObserver observer) { readObserver = observer; }

void AbandonOutputFile(OutputFile& file) {
  if (file.handle != kNoFile) CloseHandle(AsHandle(file.handle));
  if (!file.temporaryPath.empty()) DeleteFileW(Wide(Utf16Of(file.temporaryPath)));
  ForgetOutput(file);
}
