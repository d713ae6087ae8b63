#pragma once
// Decryption of encrypted members as filters of the member pipeline: the
// traditional PKWARE cipher and WinZip AES. A member that the password
// doesn't open is refused before any of its data is decoded; an AES member
// whose authentication code doesn't match is refused before it is put in
// place.

#include <string>

#include "ZipFilter.h"
#include "ZipFormat.h"
#include "ZipReader.h"

namespace zipdecrypt {

// The password doesn't open the member: the archive may be tried again with
// another.
class WrongPassword : public ZipError {
public:
    using ZipError::ZipError;
};

// Filters for the encrypted members under one password, given as UTF-8. AES
// keys are made from its UTF-8 bytes, as every AES writer does; the PKWARE
// cipher takes it in the legacy code page first (as the Windows tools of
// that language wrote it), and its UTF-8 bytes when the check byte refuses that.
// Given the reader, the AES keys of the next few members, in directory order,
// are derived ahead on the worker threads (their stretching is most of the
// work of a small member); the reader must outlive the factory.
zipfilter::Factory Filters(const std::string& password, const zipread::Reader* reader = nullptr);

// The first encrypted file member, or nullptr when there is none.
const zipread::Entry* FirstEncrypted(const zipread::Reader& reader);

// Whether the password opens the archive's first encrypted member (by its
// verifier or check byte), reading only that member's header.
bool Opens(const zipread::Reader& reader, const std::string& password);

}  // namespace zipdecrypt
