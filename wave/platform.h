// The few calls the job makes into the operating system, for its files, its
// memory and the signals that end it, behind a plain interface of records and
// free functions. platform_posix.cpp is the Linux version; another system
// gets a file of its own with the same functions.
#pragma once

#include <cstdint>
#include <string>

// ---- input ------------------------------------------------------------------

struct InputFile {
  std::intptr_t handle = -1;  // -1: nothing open
};

// The existence test: `typedName` opens for reading and is not a folder. A
// named pipe does not hold it up.
bool InputFileOpens(const std::string& typedName);

// Opens `typedName` for reading by byte position. False, and nothing open,
// when it cannot be opened.
bool OpenInputFile(const std::string& typedName, InputFile& file);

// Reads up to `count` bytes from byte `offset` into `bytes`. Returns how many
// it read before the end of the file, or before a read failed; 0 when
// nothing is open.
std::int64_t ReadInputAt(InputFile& file, std::int64_t offset, std::uint8_t* bytes,
                         std::int64_t count);

void CloseInputFile(InputFile& file);

// ---- output -------------------------------------------------------------------
//
// The new file is written under no name at all, beside the file it will
// replace, and given its name only once it is complete: a program that is
// killed, or a machine that stops, leaves no part of it behind. Where the
// file system cannot make a file without a name, a hidden temporary name is
// used instead, and the signals that end the program are held for as long as
// that name exists (see OutputEndingSignalWaiting). One output file at a
// time.
//
// Order of use: CreateOutputFile, AppendOutput as often as needed,
// MakeOutputDurable, NameOutputFile; or AbandonOutputFile at any point after
// a successful create.

struct OutputFile {
  std::intptr_t handle = -1;
  std::string folder;         // the target's folder with its trailing '/', or "" for the current one
  std::string targetPath;     // the file to make or replace (a symbolic link followed)
  std::string temporaryPath;  // the temporary name; empty while the file has none
  bool replacing = false;     // targetPath is an existing regular file
  std::uint32_t targetMode = 0;   // what is kept of the replaced file
  std::uint32_t targetOwner = 0;
  std::uint32_t targetGroup = 0;
};

enum class OutputNaming {
  kUnnamedWherePossible,  // the job's way
  kHiddenName,            // as where the file system has no unnamed files (tests)
};

// Works out which file `typedName` leads to and creates the new, empty file
// in its folder. False, with nothing created, when the name cannot be a
// regular file's (empty, a folder, a device, a pipe, a missing folder on the
// way, a file we may not write) or nothing can be created there.
bool CreateOutputFile(const std::string& typedName, OutputFile& file,
                      OutputNaming naming = OutputNaming::kUnnamedWherePossible);

// Appends `count` bytes. False when they could not all be written (a full
// disk, a file size limit).
bool AppendOutput(OutputFile& file, const std::uint8_t* bytes, std::int64_t count);

// Gives the new file its permissions (and, when it replaces a file, that
// file's owner and permissions without set-id bits) and, only when a file
// is replaced, puts its contents on the disk before the name moves to it.
bool MakeOutputDurable(OutputFile& file);

// Gives the complete file its name (over the replaced file, which is then
// gone) and closes it; when a file was replaced, the folder is made durable
// too. False, with the new file gone and any old file untouched, when the
// name cannot be given.
bool NameOutputFile(OutputFile& file);

// Closes and removes the new file; everything stays as it was. Any ending
// signal held meanwhile is delivered now.
void AbandonOutputFile(OutputFile& file);

// True when a signal that ends the program has arrived while held for the
// temporary name: the caller abandons the file at once, which lets the
// signal end the program with nothing left behind.
bool OutputEndingSignalWaiting(const OutputFile& file);

// ---- memory --------------------------------------------------------------------

// `bytes` of zeroed memory straight from the system, committed only as it is
// touched; nullptr when refused.
void* MapZeroedMemory(std::int64_t bytes);
void UnmapMemory(void* memory, std::int64_t bytes);

// Bytes the system reports it can give without swapping, or -1 when unknown.
std::int64_t AvailableMemoryBytes();
