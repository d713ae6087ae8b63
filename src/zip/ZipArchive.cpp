#include "ZipArchive.h"

#include <algorithm>
#include <optional>
#include <sys/stat.h>

#include "DirWalk.h"
#include "ParallelDeflate.h"
#include "ZipDecrypt.h"
#include "ZipExtract.h"
#include "ZipIo.h"
#include "ZipReader.h"
#include "ZipWriter.h"

struct ZipArchive::Impl {
    ZipProgress onProgress;
    bool reading = false;
    bool forceZip64 = false;
    std::string password;
    zipread::Reader reader;
    zipwrite::Writer writer;

    // The filters of the encrypted members; none is needed when nothing is
    // encrypted, and without a password an encrypted member is refused.
    zipfilter::Factory Decryption() const
    {
        const zipread::Entry* encrypted = zipdecrypt::FirstEncrypted(reader);
        if (!encrypted)
            return {};
        if (password.empty())
            throw zipdecrypt::WrongPassword("成员" + encrypted->header.Name + "已加密，需要密码");
        return zipdecrypt::Filters(password, &reader);
    }

    zipwrite::Progress Report(ZipArchive* self) const
    {
        if (!onProgress)
            return {};
        return [self, cb = onProgress](const std::string& file, const ZipHeader& header, std::int64_t position) {
            cb(self, file, header, position);
        };
    }
};

ZipArchive::ZipArchive(ZipProgress onProgress) : impl_(std::make_unique<Impl>())
{
    impl_->onProgress = std::move(onProgress);
}

ZipArchive::~ZipArchive() = default;

void ZipArchive::SetOnProgress(ZipProgress onProgress)
{
    impl_->onProgress = std::move(onProgress);
}

void ZipArchive::SetForceZip64(bool force)
{
    impl_->forceZip64 = force;
}

void ZipArchive::SetPassword(const std::string& password)
{
    impl_->password = password;
}

void ZipArchive::Open(const std::string& archivePath, ZipMode mode)
{
    Close();
    if (mode == ZipMode::Read) {
        impl_->reader.Open(archivePath);
        impl_->reading = true;
    } else {
        impl_->writer.SetForceZip64(impl_->forceZip64);
        impl_->writer.SetPassword(impl_->password);
        impl_->writer.Open(archivePath);
        impl_->reading = false;
    }
}

void ZipArchive::OpenBuffer(const void* data, std::size_t size)
{
    Close();
    impl_->reader.OpenMemory(data, size, "内存中的压缩文件");
    impl_->reading = true;
}

void ZipArchive::OpenRead(safefile::Fd fd, std::uint64_t size, const std::string& path)
{
    Close();
    impl_->reader.Open(std::move(fd), size, path);
    impl_->reading = true;
}

void ZipArchive::Add(const std::string& sourcePath, const std::string& memberName, ZipMethod method,
                     const reach::Root& from)
{
    if (!impl_->writer.IsOpen())
        throw ZipError("无法添加" + sourcePath + "：压缩文件没有以写入方式打开");
    if (method != ZipMethod::Stored && method != ZipMethod::Deflate)
        throw ZipError("无法添加" + sourcePath + "：不支持的压缩方法");
    paralleldeflate::CompressMany(impl_->writer, {{sourcePath, memberName}}, method, impl_->Report(this), {}, from);
}

void ZipArchive::ExtractAll(const std::string& targetFolder)
{
    if (!impl_->reader.IsOpen())
        throw ZipError("无法解压：没有打开可读取的压缩文件");
    zipextract::ExtractAll(impl_->reader, targetFolder, impl_->Report(this), impl_->Decryption());
}

void ZipArchive::ExtractAll(const safefile::Folder& targetFolder)
{
    if (!impl_->reader.IsOpen())
        throw ZipError("无法解压：没有打开可读取的压缩文件");
    zipextract::ExtractAll(impl_->reader, targetFolder, impl_->Report(this), impl_->Decryption());
}

void ZipArchive::TestAll()
{
    if (!impl_->reader.IsOpen())
        throw ZipError("无法检查：没有打开可读取的压缩文件");
    zipextract::TestAll(impl_->reader, impl_->Decryption());
}

void ZipArchive::ExtractToMemory(std::uint64_t cap, const ZipMemberSink& onMember)
{
    if (!impl_->reader.IsOpen())
        throw ZipError("无法解压：没有打开可读取的压缩文件");
    zipextract::ExtractToMemory(impl_->reader, cap, onMember, impl_->Decryption());
}

bool ZipArchive::NeedsPassword() const
{
    return zipdecrypt::FirstEncrypted(impl_->reader) != nullptr;
}

bool ZipArchive::PasswordOpens(const std::string& password) const
{
    return zipdecrypt::Opens(impl_->reader, password);
}

std::vector<ZipHeader> ZipArchive::Headers() const
{
    std::vector<ZipHeader> headers;
    for (const zipread::Entry& e : impl_->reader.Entries())
        headers.push_back(e.header);
    return headers;
}

void ZipArchive::Close()
{
    if (impl_->writer.IsOpen())
        impl_->writer.Finish();
    impl_->reader.Close();
}

void ZipArchive::Abandon()
{
    impl_->writer.Abort();
}

namespace {

// Gives every folder of the tree that holds nothing the archive stores an
// entry of its own, deepest first, so that a folder holding only empty
// folders needs none. A tree without empty folders gets no entry at all.
// Folders the file walk passed over (unreadable, too deep) get none: their
// contents are unknown.
void AddEmptyFolders(zipwrite::Writer& writer, const std::string& folder, const std::string& prefix,
                     const std::vector<std::string>& passedOver)
{
    const auto skipped = [&](const std::string& path) {
        return std::any_of(passedOver.begin(), passedOver.end(), [&](const std::string& p) {
            return path.compare(0, p.size(), p) == 0 && (path.size() == p.size() || path[p.size()] == '/');
        });
    };
    const std::vector<std::string> folders = dirwalk::SubFolderWalk(folder);
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        const std::string name = it->compare(0, prefix.size(), prefix) == 0 ? it->substr(prefix.size()) : *it;
        struct stat st{};
        if (writer.HasMemberUnder(name + "/") || skipped(*it) || ::lstat(it->c_str(), &st) != 0 ||
            !S_ISDIR(st.st_mode))
            continue;
        writer.AddFolder(*it, name, st.st_mtime, st.st_mode);
    }
}

}  // namespace

void ZipArchive::ZipDirectoryContents(const std::string& archivePath, const std::string& folder, ZipMethod method,
                                      ZipProgress onProgress, const zipwrite::Skipped& skipped,
                                      const dirwalk::OnSkippedFolder& skippedFolder, const std::string& password)
{
    // Every file is collected before the archive's temporary file exists, and
    // an earlier archive of that name inside the folder is left out, so the
    // archive never holds itself.
    std::vector<std::string> files;
    std::vector<std::string> passedOver;
    const dirwalk::OnSkippedFolder noteSkipped = [&](const std::string& path, dirwalk::FolderSkip why) {
        passedOver.push_back(path);
        if (skippedFolder)
            skippedFolder(path, why);
    };
    try {
        files = dirwalk::AllFiles(folder, noteSkipped);
    } catch (const dirwalk::PathError& e) {
        throw ZipError(e.what());
    }
    std::optional<reach::Root> from;
    try {
        from.emplace(folder);
    } catch (const safefile::Error& e) {
        throw ZipError("无法打开文件夹" + folder + "：" + e.what());
    }
    // Whatever the root refuses is left out; without a taker, silently.
    const zipwrite::Skipped leaveOut = [&skipped](const std::string& path, reach::Skip why) {
        if (skipped)
            skipped(path, why);
    };
    struct stat self{};
    const bool archiveExists = ::stat(archivePath.c_str(), &self) == 0;
    const std::string prefix = dirwalk::Join(folder, "");

    ZipArchive archive(std::move(onProgress));
    archive.SetPassword(password);
    archive.Open(archivePath, ZipMode::Write);
    std::vector<paralleldeflate::Job> jobs;
    jobs.reserve(files.size());
    for (const std::string& file : files) {
        const std::string name = file.compare(0, prefix.size(), prefix) == 0 ? file.substr(prefix.size()) : file;
        jobs.push_back({file, name});
    }
    // Looked at as each file is opened, while the files before it are being
    // compressed, rather than all of them before the first is read.
    const zipwrite::Admit admit = [&](const std::string&, const struct stat& st) {
        return !(archiveExists && st.st_dev == self.st_dev && st.st_ino == self.st_ino);
    };
    paralleldeflate::CompressMany(archive.impl_->writer, jobs, method, archive.impl_->Report(&archive), admit, *from,
                                  leaveOut);
    AddEmptyFolders(archive.impl_->writer, folder, prefix, passedOver);
    archive.Close();
}

void ZipArchive::ExtractZipFile(const std::string& archivePath, const std::string& targetFolder,
                                ZipProgress onProgress)
{
    ZipArchive archive(std::move(onProgress));
    archive.Open(archivePath, ZipMode::Read);
    archive.ExtractAll(targetFolder);
    archive.Close();
}
