// The trust check of the log's folder, made in WinMain right after the options and
// before the first piece of text is written: a service must not write where a standard
// user could have put a link or a file of theirs.
#pragma once

// Judges the log file's folder and the log file where it exists, each with the folders
// above (trust/check.h); devices and pipes have none. When one is unsafe, the log file
// is set aside and nothing is written to it: a service then stops at once
// (LogFolderRefused); the standalone host takes it back (WriteLogFolderRefusal). On the
// first thread, before any other thread exists.
void CheckLogFolder();
// True when CheckLogFolder set the log file aside. Only read after it.
bool LogFolderRefused();
// The standalone host, on the first thread before the worker starts: takes the log
// file back and writes one line for each unsafe place; the daemon then starts all the
// same.
void WriteLogFolderRefusal();

// One line for an unsafe place, through the log sink: "Unsafe installation: <path>
// <why>". The worker's check of the installation writes the same lines.
void LogUnsafePlace(const char* path, const char* why, void* context);
