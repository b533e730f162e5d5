// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// Summary: the request parser and response writer of the loopback status service, kept
// free of sockets so every byte can be tested directly.
//
// Thread safety: pure functions.
namespace StatusHttp {

// A request is judged on the bytes of one read of at most this many bytes.
inline constexpr qsizetype maxRequestBytes = 8192;
// Longer Origin values are treated as no origin at all.
inline constexpr qsizetype maxOriginBytes = 1024;

struct Request {
    QByteArray method;               // first piece of the request line
    QByteArray path;                 // second piece, empty when there is none
    std::optional<QString> origin;   // trimmed Origin value; absent when missing or unusable
};

// Nothing for empty or invalid UTF-8 input (such a connection is closed without a response);
// a character cut in two by the maxRequestBytes limit is left out. Lines end at "\r\n" only;
// the first line starting with "origin:" (any letter case) gives the origin, trimmed of
// spaces and tabs. A value with any character outside printable ASCII (0x20 ... 0x7E) or
// longer than maxOriginBytes counts as absent, so it can never reach a response header, the
// consent file or a prompt.
std::optional<Request> parseRequest(QByteArrayView bytes);

enum class Status { ok, forbidden, notFound };

// The complete response: head (with Access-Control-Allow-Origin only when `origin` is
// given) followed by `body`.
QByteArray response(Status status, const std::optional<QString> &origin, QByteArrayView body);

} // namespace StatusHttp
