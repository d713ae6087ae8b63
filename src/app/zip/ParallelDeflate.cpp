#include "ParallelDeflate.h"

namespace paralleldeflate {

void Compress(zipwrite::Writer& writer, zipwrite::Source& source, const ZipHeader& header, ZipMethod method,
              const zipwrite::Progress& progress)
{
    zipwrite::CompressSerial(writer, source, header, method, progress);
}

void CompressMany(zipwrite::Writer& writer, const std::vector<Job>& jobs, ZipMethod method,
                  const zipwrite::Progress& progress)
{
    for (const Job& job : jobs) {
        zipwrite::Source source = zipwrite::OpenSource(job.sourcePath);
        const ZipHeader header = writer.Begin(source, job.memberName, method);
        try {
            Compress(writer, source, header, method, progress);
        } catch (...) {
            writer.Rollback();
            throw;
        }
    }
}

}  // namespace paralleldeflate
