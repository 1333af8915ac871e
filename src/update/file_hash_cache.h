// The MD5 (and, for signed updates, the SHA-256) of a file, read again only when the file
// may have changed since it was last hashed. The record "<file>.state" beside it keeps the
// file's stamp, the time the stamp was taken and the digests learnt for that stamp; see
// launch/stamp_record.h for when a stamp proves the bytes unchanged.
#pragma once

#include <string>

// The file's MD5 as 32 lowercase hex digits; empty when it cannot be read. Taken from the
// record when the file's stamp is the recorded one and had settled when it was recorded;
// otherwise the file is hashed (other readers admitted, writers kept out meanwhile) and the
// record renewed, unless the file changed while it was read.
std::wstring FileMd5(const std::wstring& path);
// The same for the file's SHA-256 (64 lowercase hex digits), kept in the same record: a
// file is hashed only for the digest asked for.
std::wstring FileSha256(const std::wstring& path);

// Records `md5` as the MD5 of the file as it is now, for a caller that has just written it
// from bytes it hashed itself (the update run after installing a package as the jar).
// A file written moments ago has not settled, so the next FileMd5 still reads it once, and
// the record it then writes is the one later runs trust. Recording at once still matters:
// the record the previous jar left could otherwise be mistaken for this jar's.
void RememberFileMd5(const std::wstring& path, const std::wstring& md5);
// The same with both digests (a signed package: its SHA-256 is what the next start asks).
void RememberFileDigests(const std::wstring& path, const std::wstring& md5, const std::wstring& sha256);

// Where the record of a file lies: "<file>.state".
std::wstring FileMd5RecordPath(const std::wstring& path);
