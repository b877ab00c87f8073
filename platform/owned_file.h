#ifndef VOSK_PLATFORM_OWNED_FILE_H_
#define VOSK_PLATFORM_OWNED_FILE_H_

#include <string>

namespace vosk {

// Files the program makes for its own use: temporary files in the temporary folder and the new
// files of a table rewrite beside the table. Their names carry the owner's process id
// ("<prefix>vosk-<pid>-<n><suffix>") and the owner holds an exclusive share lock (flock) on the
// file for as long as it uses it (File::Create takes it). So "the owner is gone" is testable: no
// process runs under the pid of the name and nobody holds the file's lock.

// A name unique to this process in dir: dir + "/" + prefix + "vosk-<pid>-<n>" + suffix.
std::string OwnedFileName(const std::string& dir, const std::string& prefix,
                          const std::string& suffix);

// The owner's pid of a name made by OwnedFileName (the part after prefix), or 0 when the name
// is not one.
long OwnerPidOf(const std::string& name, const std::string& prefix);

// True when the owner of an owned file is gone: not this process, no process with the pid of
// the name, and the file's share lock free. A file still in use is never reported gone.
bool OwnerGone(const std::string& path, long pid);

// Removes the files of dir whose names are owned names after prefix (compared without regard
// to letter case), end in suffix and whose owner is gone. Returns how many were removed.
int RemoveOrphanedFiles(const std::string& dir, const std::string& prefix,
                        const std::string& suffix);

// Removes the orphaned files of the program (every owned name) in the temporary folder: at the
// start of the program and of every dbutool run.
void CleanTemporaryFolder();

// The suffix of the program's temporary files in the temporary folder.
inline constexpr char kTempSuffix[] = ".tmp";

// A new temporary file name in the temporary folder.
std::string TemporaryFileName();

// Makes a directory's entries (creations, renames, removals) durable. False on failure.
bool SyncDirectory(const std::string& dir);

// The directory part of a path ("." when none).
std::string DirectoryOf(const std::string& path);
// The file part of a path.
std::string FilePartOf(const std::string& path);

// Fault injection for the tests of crash safety: when the environment variable VOSK_CRASH_AT
// names this point ("name" or "name:k"), the process kills itself with SIGKILL the k-th time
// (default first) it passes here. Costs one comparison when the variable is not set.
void CrashPoint(const char* name);

}  // namespace vosk

#endif  // VOSK_PLATFORM_OWNED_FILE_H_
