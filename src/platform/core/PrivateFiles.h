#pragma once
// Files that hold the trader's own data, such as alert recordings: created
// readable by their owner only, never reached through a symbolic link when
// written, only ever a regular file (a pipe named like one would hang the
// client, a device would swallow what is written), and written by one
// process at a time under an exclusive lock. The calls are POSIX; another
// system puts its own behind the same functions (the lock is the one in
// LockExclusively).
//
// Each returns a descriptor the caller owns, or -1 with Why set to a clause
// that follows the file's name ("is in use: ...", "cannot be opened: ...").
#include <QString>

// For reading, following links: a replay may name a link to a recording.
// Never waits on a pipe.
int OpenRegularFileForReading(const QString& path, QString& why);

// For reading and appending, created with mode 0600 if missing, and locked.
// "is in use" when another holds its lock.
int OpenPrivateFileForAppending(const QString& path, QString& why);

// A new file in place of any at Path (left over by an interrupted earlier
// attempt), locked, with the mode and owner of the file open as Like.
int CreateReplacementFile(const QString& path, int like, QString& why);

// Puts the file open as Fd, now named From, in the place of To so that a
// power cut leaves one or the other whole: its data reaches the disk before
// the rename, the rename before this returns.
bool ReplaceBySyncedFile(int fd, const QString& from, const QString& to, QString& why);

// An exclusive lock on the open file, held until every descriptor of that
// opening is closed. False at once, without waiting, when another holds it.
bool LockExclusively(int fd);
