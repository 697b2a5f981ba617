#pragma once
// Archive library of VRK packages: plain zips and zips enciphered with WinZip AES-256 under the
// library's built-in package key. Paths are NUL-terminated byte strings.
#ifdef __cplusplus
extern "C" {
#endif

// Non-zero when any entry of the package is enciphered.
int IsEncryptSource(const char* package_path);
// Unpacks a plain or enciphered package into `dest_dir` (ending in "/"). 0 on success.
int DecompressZipDec(const char* package_path, const char* dest_dir);
// Adds one file or directory (with its whole content) to the enciphered package at `package_path`,
// creating the package on the first call. 0 on success.
int CompressToZipEnc(const char* package_path, const char* entry_path, int mode);

#ifdef __cplusplus
}
#endif
