#pragma once
// Paths, folders and whole-file reads. Paths are UTF-8 text; folders are joined with '/'.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// The data folder ("program folder"): the --data-dir override when set, else the
// executable's folder when it is writable and not an installed bin/, else $XDG_DATA_HOME/palo520g
// (~/.local/share/palo520g). Created on first use where possible.
[[nodiscard]] std::string GetProgramPath();
// Makes every later GetProgramPath return this folder (empty = automatic choice again).
void SetProgramPathOverride(const std::string& folder);
// True when the data folder also holds the configuration and the logs: a --data-dir
// override, or a portable program run from a writable folder. Otherwise those live
// in the XDG places (UserPlaces.h).
[[nodiscard]] bool ProgramPathHoldsEverything();
// The folder of the running executable.
[[nodiscard]] std::string GetExecutableFolder();
// A read-only resource (images, skins) by relative path: beside the executable,
// then in the install prefix's share/palo520g, then, for a program run from the
// build tree only, in the source tree's resources/. Empty when found nowhere.
[[nodiscard]] std::string FindResourcePath(const std::string& relative);

[[nodiscard]] std::string CombinePathName(const std::string& folder, const std::string& name);
// Creates the folder and every missing parent; true when it exists afterwards.
bool RecursiveCreateDirectory(const std::string& folder);
// Creates the folder when missing and proves that a new file can be made in it (one
// is created and removed again). False with the reason in `why` when not.
bool PrepareWritableFolder(const std::string& folder, std::string* why = nullptr);
// The path relative to base when it lies inside base, else the path unchanged; empty for an empty path.
[[nodiscard]] std::string GetFileRelativePath(const std::string& path, const std::string& base);
// A relative path joined to base, an absolute one unchanged; both normalised.
[[nodiscard]] std::string GetFileAbsolutePath(const std::string& path, const std::string& base);
// True for an existing file that is not a folder.
[[nodiscard]] bool IsFileExist(const std::string& path);
// The extension of the file name without the dot ("photo.TIF" gives "TIF"); empty when none.
[[nodiscard]] std::string GetFileExtName(const std::string& path);
// Names (not paths) of the regular files in the folder, sorted; with an extension
// ("bin", compared without case) only those files.
[[nodiscard]] std::vector<std::string> GetLocalFolderFileList(const std::string& folder,
                                                              const std::string& extension = {});
// prefix + local date and time ("20261210_143005_123") + suffix + extension.
[[nodiscard]] std::string GetFileNameByDate(const std::string& extension, const std::string& prefix,
                                            const std::string& suffix = {});

// Reads the whole file into a new buffer (with one extra zero byte after the data)
// that the caller frees with ReleaseFileData. Returns the length; 0 on failure or
// for an empty file, and *data is then null; `why` (when given) then says why.
// Only regular files are read: a FIFO or a device (which could block or never end)
// is refused at once.
size_t ReadFileData(const std::string& path, uint8_t** data, std::string* why = nullptr);
// Opens a file for reading without blocking on a FIFO and checks that it is a
// regular file. The descriptor (blocking again), or -1 with the reason in `why`.
int OpenRegularFile(const std::string& path, std::string* why = nullptr);
// True when OpenRegularFile would succeed (the file is opened and closed again).
[[nodiscard]] bool IsReadableRegularFile(const std::string& path, std::string* why = nullptr);
void ReleaseFileData(uint8_t* data);
// Reads a whole regular file of at most maxBytes into text. A FIFO, a device or a
// folder is refused at once, a larger file before anything is read. False with the
// reason in `why` (when given); text is then empty.
bool ReadRegularFile(const std::string& path, size_t maxBytes, std::string& text, std::string* why = nullptr);

// Replaces the file at path with what `write` puts into the stream it is given:
// the text goes to a temporary file beside the old one (".NAME.tmp", one fixed name,
// so a save killed half-way leaves at most one, which the next save replaces), is
// flushed to disk and then renamed over it, so that a reader sees the old file or the
// new one, never a part. A symbolic link is followed: its target is updated and the
// link stays. A file with more than one name (hard links) is rewritten in place once
// the new text is complete, so that every name sees it: a reader may then see a part
// of it during that write, and where the file cannot grow to the new size the save
// renames as usual and the other names keep the old text. The new file keeps the old
// one's permission bits, and its owner when running as root (a new file gets 0666
// less the umask). An existing file that is not
// a regular file, or that the user may not write, is refused. False when `write`
// returns false or any step fails; the old file is then untouched, the temporary
// removed, errno and `why` (when given) say why. `beforeRename`, when set, runs with
// the temporary's path after it is complete and before the rename.
bool SaveFileSafely(const std::string& path, const std::function<bool(std::FILE*)>& write,
                    const std::function<void(const std::string&)>& beforeRename = {},
                    std::string* why = nullptr);
