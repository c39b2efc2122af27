#pragma once

#include <netinet/in.h>

#include <iostream>
#include <string>

class EngineConfig;

// The crawler's HTTP client: one HTTP/1.1 GET to port 80 of the target's
// host, the reply kept byte for byte (status line, headers, body) in the
// caller's text. No redirects are followed, no body is decoded, no port other
// than 80 is used. Blocking; used by the download thread only, one
// connection at a time.

// Splits a target "host" or "host/path": the host runs to the first '/', the
// path starts at it ("/" when there is none). Appends to the two texts.
void splitTarget(const std::string& target, std::string& host, std::string& path);

// The request sent for a host and path: the request line, "Host:" and
// "Connection: close", and the blank line; no other header.
[[nodiscard]] std::string buildRequest(const std::string& host, const std::string& path);

// Splits the target (appending to `host` and `path`) and resolves the host
// part, unchanged (a ":port" stays part of the name), to its first IPv4
// address, port 80. False when the name does not resolve.
[[nodiscard]] bool resolveHost(const std::string& target, std::string& host, std::string& path,
                               sockaddr_in& address);

// Blocks until the descriptor has something to read (or end of stream), at
// most 2 seconds. False on time-out or when the wait fails.
[[nodiscard]] bool waitReadable(int socket);

// Fetches "host" or "host/path" (without "http://") into `reply`, which the
// caller passes empty. The first chunk of the reply is checked with
// config.acceptReply and the transfer dropped at once if it is refused.
// True when `reply` holds a complete accepted reply; false on any failure
// (name, connection, request, refusal, a reply over 64 MiB, no data within
// 2 seconds before a read), and `reply` is then to be ignored. A time-out
// also writes "ERROR TIMEOUT" and a line end to `messages`.
[[nodiscard]] bool httpGet(const EngineConfig& config, const std::string& target,
                           std::string& reply, std::ostream& messages = std::cout);
