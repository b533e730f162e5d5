// SPDX-License-Identifier: GPL-3.0-or-later
#include "status/StatusHttp.h"

namespace StatusHttp {
namespace {

// Well-formed UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int len = 0;
        unsigned char lo = 0x80, hi = 0xbf;   // allowed range of the second byte
        if (c >= 0xc2 && c <= 0xdf) {
            len = 2;
        } else if (c >= 0xe0 && c <= 0xef) {
            len = 3;
            if (c == 0xe0)
                lo = 0xa0;
            else if (c == 0xed)
                hi = 0x9f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            len = 4;
            if (c == 0xf0)
                lo = 0x90;
            else if (c == 0xf4)
                hi = 0x8f;
        } else {
            return false;
        }
        if (n - i < len || p[i + 1] < lo || p[i + 1] > hi)
            return false;
        for (int k = 2; k < len; ++k) {
            if ((p[i + k] & 0xc0) != 0x80)
                return false;
        }
        i += len;
    }
    return true;
}

// A read that stopped at the size limit may have cut the last character in two; the request
// is judged without that piece. Elsewhere an incomplete sequence is invalid input.
QByteArrayView withoutCutCharacter(QByteArrayView bytes)
{
    if (bytes.size() < maxRequestBytes)
        return bytes;
    for (qsizetype back = 1; back <= 3 && back <= bytes.size(); ++back) {
        const auto c = static_cast<unsigned char>(bytes[bytes.size() - back]);
        if ((c & 0xc0) == 0x80)
            continue;  // a continuation byte: look further back for the lead
        const int len = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 1;
        return len > back ? bytes.first(bytes.size() - back) : bytes;
    }
    return bytes;
}

// Spaces, tabs and the other space separators; line breaks stay.
bool isTrimmable(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

std::optional<QString> usableOrigin(QByteArrayView raw)
{
    QString value = QString::fromUtf8(raw);
    qsizetype begin = 0;
    qsizetype end = value.size();
    while (begin < end && isTrimmable(value[begin]))
        ++begin;
    while (end > begin && isTrimmable(value[end - 1]))
        --end;
    value = value.mid(begin, end - begin);
    // Printable ASCII only: origins are ASCII (hosts travel in punycode), and anything else
    // could smuggle look-alike text into the prompt or the consent file.
    for (const QChar c : value) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return std::nullopt;
    }
    if (value.toUtf8().size() > maxOriginBytes)
        return std::nullopt;
    return value;
}

bool startsWithOriginName(QByteArrayView line)
{
    static constexpr char name[] = "origin:";
    if (line.size() < 7)
        return false;
    for (int i = 0; i < 7; ++i) {
        char c = line[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != name[i])
            return false;
    }
    return true;
}

} // namespace

std::optional<Request> parseRequest(QByteArrayView bytes)
{
    bytes = withoutCutCharacter(bytes);
    if (bytes.isEmpty() || !isValidUtf8(bytes))
        return std::nullopt;

    Request request;
    bool first = true;
    bool originFound = false;
    qsizetype pos = 0;
    while (pos <= bytes.size()) {
        qsizetype end = bytes.indexOf(QByteArrayView("\r\n"), pos);
        if (end < 0)
            end = bytes.size();
        const QByteArrayView line = bytes.sliced(pos, end - pos);
        if (first) {
            const qsizetype space = line.indexOf(' ');
            request.method = (space < 0 ? line : line.first(space)).toByteArray();
            if (space >= 0) {
                const qsizetype next = line.indexOf(' ', space + 1);
                request.path = line.sliced(space + 1, (next < 0 ? line.size() : next) - space - 1)
                                   .toByteArray();
            }
            first = false;
        }
        if (!originFound && startsWithOriginName(line)) {
            originFound = true;
            request.origin = usableOrigin(line.sliced(7));
        }
        pos = end + 2;
    }
    return request;
}

QByteArray response(Status status, const std::optional<QString> &origin, QByteArrayView body)
{
    QByteArray out = "HTTP/1.1 ";
    switch (status) {
    case Status::ok: out += "200 OK"; break;
    case Status::forbidden: out += "403 Forbidden"; break;
    case Status::notFound: out += "404 Not Found"; break;
    }
    out += "\r\n";
    if (origin)
        out += "Access-Control-Allow-Origin: " + origin->toUtf8() + "\r\n";
    out += "Content-Type: application/json; charset=utf-8\r\n"
           "Cache-Control: no-store\r\n"
           "Content-Length: ";
    out += QByteArray::number(body.size());
    out += "\r\nConnection: close\r\n\r\n";
    out += body;
    return out;
}

} // namespace StatusHttp
