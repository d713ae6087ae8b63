#pragma once
// Writes the members of a checked archive below a target folder.

#include <functional>
#include <string>
#include <vector>

#include "SafeFile.h"
#include "ZipFilter.h"
#include "ZipReader.h"

namespace zipextract {

using Progress = std::function<void(const std::string& fileName, const ZipHeader& header, std::int64_t position)>;

// The safe relative path of a member ("a/b/c.txt", "/" separated), or a
// ZipError for a name that is absolute, climbs through "..", or has a part
// over 255 bytes. In archives made on MS-DOS, Windows or an unknown host
// (host is the "version made by" system) "\" separates parts too and a drive
// prefix is refused; elsewhere both are ordinary name characters. The name is
// already decoded, so no trail byte of a legacy code page is mistaken for "\".
std::string SafeRelativePath(const std::string& memberName, std::uint8_t host);

// Extracts every member. filters gives the filter of each member whose data
// is stored transformed; without it an encrypted member refuses the archive.
// The whole archive is checked first (names, methods, encryption, duplicates, a file that another member needs as a folder), so
// a refused archive writes nothing. Each file goes through a temporary file
// that is renamed into place only once its size and CRC-32 check out, and no
// symbolic link below the target is ever followed or created. A member whose
// data fails (wrong password, failed authentication, bad CRC, corrupt data)
// is not written and the others still are; the ZipError thrown at the end
// then names every such member.
void ExtractAll(const zipread::Reader& reader, const std::string& targetFolder, const Progress& progress,
                const zipfilter::Factory& filters = {});
// The same into a folder already open (beside an archive, reached below the folder a batch was named on).
void ExtractAll(const zipread::Reader& reader, const safefile::Folder& targetFolder, const Progress& progress,
                const zipfilter::Factory& filters = {});

// Decodes every member and checks it, writing nothing.
void TestAll(const zipread::Reader& reader, const zipfilter::Factory& filters = {});

// Checks the archive as ExtractAll does, then inflates every file member into
// memory and hands it to onMember in directory order. Fails with ZipError,
// before inflating anything more, when the members together would pass cap bytes.
void ExtractToMemory(const zipread::Reader& reader, std::uint64_t cap, const ZipMemberSink& onMember,
                     const zipfilter::Factory& filters = {});

}  // namespace zipextract
