#include "simerror.h"
#include "artsim.h"

#include <algorithm>
#include <cstring>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <iconv.h>
#endif

namespace artsim {

std::string &lastError()
{
    thread_local std::string text;
    return text;
}

ArtDaqStatus fail(ArtDaqStatus status, const std::string &chinese, const std::string &english)
{
    lastError() = chinese + " / " + english;
    return status;
}

ArtDaqStatus invalidHandle()
{
    return fail(ARTSIM_ERR_INVALID_HANDLE, "无效的任务句柄", "invalid task handle");
}

ArtDaqStatus nullArgument(const char *name)
{
    return fail(ARTSIM_ERR_NULL_ARGUMENT, std::string("参数 ") + name + " 为空指针",
                std::string("argument ") + name + " is a null pointer");
}

ArtDaqStatus taskRunning()
{
    return fail(ARTSIM_ERR_TASK_RUNNING, "任务正在运行，不能更改配置",
                "the task is running; its configuration cannot change");
}

#ifdef _WIN32

std::string toGbk(const std::string &utf8)
{
    if (utf8.empty())
        return std::string();
    const int size = static_cast<int>(utf8.size());
    const int wide = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring w(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, &w[0], wide);
    const int bytes = WideCharToMultiByte(936, 0, w.data(), wide, nullptr, 0, "?", nullptr);
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(936, 0, w.data(), wide, &out[0], bytes, "?", nullptr);
    return out;
}

#else

std::string toGbk(const std::string &utf8)
{
    const iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        static const bool said =
            std::fputs("ArtSim: this system has no GBK converter; error texts stay UTF-8\n",
                       stderr) >= 0;
        (void)said;
        return utf8;
    }
    std::string out;
    std::string in = utf8;
    char *src = &in[0];
    std::size_t left = in.size();
    char chunk[256];
    while (left > 0) {
        char *dst = chunk;
        std::size_t room = sizeof chunk;
        const std::size_t r = iconv(cd, &src, &left, &dst, &room);
        out.append(chunk, static_cast<std::size_t>(dst - chunk));
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // A character GBK lacks, or broken UTF-8: skip one character.
            out += '?';
            std::size_t skip = 1;
            while (skip < left && (static_cast<unsigned char>(src[skip]) & 0xC0) == 0x80)
                ++skip;
            src += skip;
            left -= skip;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

#endif

void copyWholeCharacters(const std::string &text, bool gbk, char *buffer, uint32_t size)
{
    std::size_t n = std::min<std::size_t>(text.size(), size - 1);
    if (gbk) {
        // A byte from 0x81 on starts a two-byte character.
        std::size_t end = 0;
        while (end < n) {
            const std::size_t length = static_cast<unsigned char>(text[end]) >= 0x81 ? 2 : 1;
            if (end + length > n)
                break;
            end += length;
        }
        n = end;
    } else {
        while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;
    }
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

} // namespace artsim
