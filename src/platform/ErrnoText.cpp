#include "ErrnoText.h"

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

struct Entry {
    int code;
    const char* text;
};

constexpr Entry kTexts[] = {
    {ENOENT, "没有那个文件或目录"},
    {EACCES, "权限不够"},
    {EPERM, "不允许的操作"},
    {ENOSPC, "设备上没有空间"},
    {EDQUOT, "超出磁盘限额"},
    {EROFS, "只读文件系统"},
    {EEXIST, "文件已存在"},
    {ENOTDIR, "不是目录"},
    {EISDIR, "是一个目录"},
    {ELOOP, "符号链接的层数过多"},
    {ENAMETOOLONG, "文件名过长"},
    {EXDEV, "无效的跨设备链接"},
    {EIO, "输入/输出错误"},
    {EMFILE, "打开的文件过多"},
    {ENFILE, "打开的文件过多"},
    {EBUSY, "设备或资源忙"},
    {EFBIG, "文件过大"},
    {ENOTEMPTY, "目录非空"},
    {EINVAL, "无效的参数"},
    {ENODEV, "没有那个设备"},
    {ENXIO, "没有那个设备或地址"},
    {ETXTBSY, "文本文件忙"},
    {ENOMEM, "无法分配内存"},
    {EAGAIN, "资源暂时不可用"},
    {EINTR, "被中断的系统调用"},
    {ESTALE, "过旧的文件控柄"},
    {ENOTSUP, "不支持的操作"},
    {ENOSYS, "函数未实现"},
    {EBADF, "错误的文件描述符"},
    {ETIMEDOUT, "连接超时"},
};

}  // namespace

std::string ErrnoText(int code)
{
    for (const Entry& e : kTexts)
        if (e.code == code)
            return e.text;
    char buffer[256];
    // The GNU strerror_r returns its text, which need not be in buffer.
    const char* text = ::strerror_r(code, buffer, sizeof buffer);
    return std::string(text) + "（错误号 " + std::to_string(code) + "）";
}

}  // namespace platform
