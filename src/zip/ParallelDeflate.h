#pragma once
// Compression of members on worker threads, in the manner of pigz: a member
// is cut into chunks, each deflated on its own with the previous chunk's last
// 32 KiB as dictionary and ended on a byte boundary (a sync flush), so the
// pieces join into one deflate stream. Small files are one chunk each and
// several are compressed at once. The calling thread reads the sources,
// writes the archive and reports progress, all in member order; memory stays
// bounded by the few chunks in flight, whatever the sizes.

#include <string>
#include <vector>

#include "ZipWriter.h"

namespace paralleldeflate {

struct Job {
    std::string sourcePath;
    std::string memberName;  // empty: the source's bare file name
};

// Adds one member per job, in order. A failure undoes the member it was
// writing and is thrown; the members before it stay in the archive.
// A file that admit turns down (see zipwrite::OpenSource) is left out.
// Sources are opened as zipwrite::OpenSource opens them with from and skipped.
void CompressMany(zipwrite::Writer& writer, const std::vector<Job>& jobs, ZipMethod method,
                  const zipwrite::Progress& progress, const zipwrite::Admit& admit = {},
                  const reach::Root& from = {}, const zipwrite::Skipped& skipped = {});

}  // namespace paralleldeflate
