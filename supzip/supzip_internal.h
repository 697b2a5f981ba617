#pragma once
// Result codes of the archive library and helpers shared by its own files.

enum SupzipResult {
    SUPZIP_OK = 0,
    SUPZIP_ERR_ARGS = -1,    // missing or bad arguments, destination folder missing
    SUPZIP_ERR_OPEN = -2,    // not a zip, truncated, inconsistent, unsupported method
    SUPZIP_ERR_UNSAFE = -3,  // an entry that could escape the destination, a link, a device, a bomb
    SUPZIP_ERR_SPACE = -4,   // not enough free disk space for the unpacked content
    SUPZIP_ERR_READ = -5,    // bad CRC, wrong key, corrupt data
    SUPZIP_ERR_WRITE = -6,   // the file system refused a write
    SUPZIP_ERR_EXISTS = -7,  // the destination already holds something
};

#include <string>

// Adds a file or a directory with its content to the package under `name`, creating the package
// when it does not exist; enciphered with WinZip AES-256 under `key` when `encrypt` is set.
int supzip_append(const char* package_path, const std::string& entry, const std::string& name, bool encrypt,
                  const char* key);

// The built-in key of enciphered packages (for the library's own tests).
const char* supzip_package_key();

// Removes a file or a directory tree; symbolic links are removed, never followed. 0 on success.
int supzip_remove_tree(const char* path);
