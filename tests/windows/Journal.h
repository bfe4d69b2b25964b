// Journal shared by the Wine stand-in programs: one UTF-8 line appended per
// event to a file that several processes write at once.
#pragma once

#include <windows.h>

#include <string>

inline std::string toUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), NULL, 0, NULL, NULL);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &out[0], size, NULL, NULL);
    return out;
}

// Appends one line to `path`; other processes write to the same journal, so a
// sharing conflict is waited out.
inline void appendJournal(const wchar_t* path, const std::wstring& line) {
    std::string bytes = toUtf8(line + L"\n");
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, NULL);
            CloseHandle(file);
            return;
        }
        Sleep(10);
    }
}
