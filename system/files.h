// Files by name: an input file read at offsets, and the new output file,
// written beside the file it replaces and given its name only once it is
// complete.
//
// Names are what the user typed, given to the system whole and never
// shortened (a name the system finds too long fails instead of naming
// another file): UTF-8 or, from a script, any bytes on POSIX; UTF-8 turned
// into UTF-16 on Windows, with the \\?\ prefix where the path is too long
// for the plain form. A name that is empty or holds "*", "?" or a NUL
// character never names a file. On Windows, where no name holds a double
// quote, a name in one pair of them (as the console types a dropped file's
// name that holds a blank) is the name inside them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// True when `name` holds what never names a file: empty, "*" or "?"
// (wildcards), or NUL, which would silently cut the name short in every
// system call.
inline bool NameIsRefused(const std::string& name) {
  return name.empty() || name.find_first_of(std::string_view("*?\0", 3)) != std::string::npos;
}

// ---- reading --------------------------------------------------------------------

// An open file: a descriptor on POSIX, a HANDLE on Windows.
using FileHandle = std::intptr_t;
constexpr FileHandle kNoFile = -1;

// Opens `name` for reading at offsets, never waiting: kNoFile when it cannot
// be opened, or is a folder. POSIX opens whatever else is there without
// blocking (a named pipe with no writer, a device: they read nothing, or
// what they hold); Windows only a file on a disk (never a device such as
// NUL, CON or COM1, nor a pipe). The file is shared: other programs may
// read, write, rename or remove it meanwhile (on Windows too: a file that
// another program holds open without sharing does not open), and what this
// handle reads stays the file that was opened, whatever becomes of its name.
FileHandle OpenFileForReading(const std::string& name);

// True for a regular file: not a device, a pipe or a socket. Always true on
// Windows, where nothing else opens.
bool IsRegularFile(FileHandle file);

// The size of the file in bytes; 0 for a pipe, a device or a file that
// cannot be asked.
std::int64_t FileSizeOf(FileHandle file);

// What ReadFileAt returns when the system reports an error.
constexpr std::int64_t kReadFailed = -1;

// Reads `count` bytes from byte `offset` into `bytes`, going on after
// interruptions and short reads. Returns how many were read, fewer only at
// the end of the file (the rest of `bytes` is left as it was); kReadFailed
// when the system reports an error (a failing disk, a pipe, a negative
// offset, kNoFile): the end of a file is never taken for an error, nor an
// error for the end. One thread at a time for one handle: Windows reads from
// the handle's position, set here.
std::int64_t ReadFileAt(FileHandle file, std::int64_t offset, std::uint8_t* bytes,
                        std::int64_t count);

void CloseFile(FileHandle file);

// ---- writing ----------------------------------------------------------------------

// The one write-everything loop of the system room: output files, the
// standard streams and the POSIX terminal all write through it.
// Writes all `count` bytes at the handle's current position, going on after
// interruptions and short writes (on POSIX also waiting while a descriptor
// in non-blocking mode is full). False when the system takes no more: a full
// disk, a file size limit, a pipe whose reader has gone.
bool WriteAllTo(FileHandle handle, const void* bytes, std::int64_t count);

// ---- the output file ------------------------------------------------------------
//
// The new file is written beside the file it will replace and takes the name
// only once it is complete: a program that ends meanwhile, or a machine that
// stops, leaves no part of it behind and any old file as it was.
//   Linux: the new file has no name at all (O_TMPFILE) until it is linked
//     under the name; where the file system cannot make such a file, it gets
//     a hidden name (.ostrivale-XXXXXX) and is renamed over the name.
//   Windows: a hidden name (.ostrivale-XXXXXXXX.tmp), the file marked for
//     deletion on its handle at once, so that the system removes it however
//     the process ends (End task, taskkill /F, a crash); the mark is taken
//     away just before the file is renamed through its handle over the name.
//     Where the file system refuses the mark, the file is moved by name and a
//     killed process leaves it behind. (A power cut may leave it too: the
//     mark is not kept on the disk.)
// For as long as a temporary name exists the ending events are held
// (ending.h): one that arrives waits until the name is gone, and
// EndingEventWaiting tells the writer to give up at once. One output file at
// a time.
//
// Order of use: CreateOutputFile, AppendOutput as often as needed,
// MakeOutputDurable, NameOutputFile; or AbandonOutputFile at any point after
// a successful create.

struct OutputFile {
  FileHandle handle = kNoFile;
  std::string folder;      // the target's folder with its separator, or "" for the current one
  std::string targetPath;  // the file to make or replace: a link followed, the full path (Windows)
  std::string temporaryPath;       // the temporary name; empty while the file has none
  bool replacing = false;          // targetPath is an existing regular file
  bool markedForDeletion = false;  // Windows: the system removes the file when its handle closes
  // What the new file keeps of the file it replaces. POSIX: the owner,
  // group and permission bits (set-id bits left out). Windows: the
  // attributes (hidden, system, archive, not indexed) and the creation time.
  std::uint32_t keptOwner = 0;
  std::uint32_t keptGroup = 0;
  std::uint32_t keptMode = 0;
  std::uint32_t keptAttributes = 0;
  std::int64_t keptCreationTime = 0;
};

enum class OutputNaming {
  kUnnamedWherePossible,  // the job's way
  kHiddenName,            // as where the file system has no unnamed files (tests); Windows always
};

// Works out which file `name` leads to and creates the new, empty file in its
// folder. False, with nothing created, when the name may not be written
// over: a refused name, a folder, a device (/dev/..., NUL, CON, COM1, ...) or
// a pipe, a read-only file or one we may not write (for root: one without
// its owner's write bit), a folder on the way missing, or nothing can be
// created there. POSIX: a symbolic link is
// followed (and stays a link) unless it points nowhere, or lies in a sticky
// folder that anyone may write (/tmp) and belongs neither to us nor to the
// folder's owner, as Linux's fs.protected_symlinks has it.
bool CreateOutputFile(const std::string& name, OutputFile& file,
                      OutputNaming naming = OutputNaming::kUnnamedWherePossible);

// Appends `count` bytes. False when they could not all be written (a full
// disk, a file size limit: never the end of the program by a signal).
bool AppendOutput(OutputFile& file, const std::uint8_t* bytes, std::int64_t count);

// Gives the new file what it keeps of the replaced one (a new file: the
// ordinary permissions, 0666 less the umask; on Windows the archive
// attribute, hidden no longer) and puts its contents on the disk (fsync,
// FlushFileBuffers) before it has its name: once named it is whole, after a
// power cut too. False when the disk does not confirm it.
bool MakeOutputDurable(OutputFile& file);

// Gives the complete file its name (over the replaced file, which is then
// gone) in one step, never half the old file and half the new one, closes
// it, and puts the name on the disk: POSIX flushes the folder (fsync), where
// it may open the folder for reading; Windows flushes the renamed file, or
// moves it by name with write-through. True once the file has its name: a
// flush of the name that fails after the rename cannot take the name back,
// and the contents are on the disk already (MakeOutputDurable). False, with
// the new file gone and any old file untouched, when the name cannot be
// given (something other than a regular file stands there by now).
bool NameOutputFile(OutputFile& file);

// Closes and removes the new file; everything stays as it was. An ending
// event held meanwhile ends the program now.
void AbandonOutputFile(OutputFile& file);

// ---- for tests: what reaches the disk, and when; reads that fail -------------------

enum class DiskStep {
  kFileContents,  // MakeOutputDurable: the new file's bytes; handle: the file
  kFolderEntry,   // NameOutputFile: its name; handle: the folder (POSIX), or kNoFile
};

// Called right after the system confirms each step, so that a test can look
// at what stands under the name at that moment; returning false makes the
// step fail as a refusal of the disk would, which a test cannot otherwise
// cause. One for the process; nullptr (the default) for none.
using DiskStepObserver = bool (*)(DiskStep step, FileHandle handle);
void ObserveDiskSteps(DiskStepObserver observer);

// Called before every ReadFileAt with its file and offset; false makes that
// read fail as a failing disk's does. A test may also cut the file short
// from here, as another program would while the job runs. One for the
// process; nullptr (the default) for none.
using ReadObserver = bool (*)(FileHandle file, std::int64_t offset);
void ObserveReads(ReadObserver observer);
