#pragma once
// Compression of members on worker threads. The calling thread reads the
// sources, writes the archive and reports progress, all in member order.

#include <string>
#include <vector>

#include "ZipWriter.h"

namespace paralleldeflate {

struct Job {
    std::string sourcePath;
    std::string memberName;
};

// Compresses one source into the member that writer has just begun.
void Compress(zipwrite::Writer& writer, zipwrite::Source& source, const ZipHeader& header, ZipMethod method,
              const zipwrite::Progress& progress);

// Adds one member per job, in order.
void CompressMany(zipwrite::Writer& writer, const std::vector<Job>& jobs, ZipMethod method,
                  const zipwrite::Progress& progress);

}  // namespace paralleldeflate
