// The file test shared by the launcher (which CABs take part) and the setup
// hook (whether the launcher is there).
#ifndef VORLUND_ORDINARY_FILE_H
#define VORLUND_ORDINARY_FILE_H

namespace vorlund {

// True when a search for `path` finds an entry that is neither hidden,
// system nor a directory. The search is over before the result is returned.
bool isOrdinaryFile(const wchar_t* path);

}  // namespace vorlund

#endif
