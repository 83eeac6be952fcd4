/* cardsim::Sim: a private simulator for one test program. */
#include "cardsim_client.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sim_proto.h"
#include "sim_server.h"

namespace cardsim {

static bool can_connect(const std::string &path)
{
    struct sockaddr_un addr;
    if (cardsim_unix_addr(path.c_str(), &addr))
        return false;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool ok = fd >= 0 && connect(fd, (struct sockaddr *)&addr, sizeof(addr)) == 0;
    if (fd >= 0)
        close(fd);
    return ok;
}

Sim::Sim()
{
    char tmpl[] = "/tmp/cardsim.XXXXXX";
    if (!mkdtemp(tmpl)) {
        m_error = "mkdtemp failed";
        return;
    }
    m_dir = tmpl;
    m_socket = m_dir + "/sim.sock";
    const char *bin = getenv("ZYLO_CARDSIM_BIN");
    std::string path = bin && *bin ? bin : CARDSIM_BUILD_BIN;
    pid_t pid = fork();
    if (pid == 0) {
        execl(path.c_str(), "zylo_cardsim", "serve", "--socket", m_socket.c_str(), (char *)nullptr);
        _exit(127);
    }
    if (pid < 0) {
        m_error = "fork failed";
        return;
    }
    m_pid = pid;
    for (int i = 0; i < 500 && !can_connect(m_socket); i++)
        usleep(10 * 1000);
    if (!can_connect(m_socket)) {
        m_error = "simulator did not start: " + path;
        return;
    }
    setenv("ZYLO_CARDSIM_SOCKET", m_socket.c_str(), 1);
}

Sim::~Sim()
{
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
    if (!m_dir.empty()) {
        unlink(m_socket.c_str());
        rmdir(m_dir.c_str());
    }
}

bool Sim::ok() const { return m_error.empty() && m_pid > 0; }
const std::string &Sim::error() const { return m_error; }
const std::string &Sim::socket_path() const { return m_socket; }

int Sim::ctl(const std::vector<std::string> &args, std::string *out)
{
    std::string text;
    int rv = cardsim_ctl(m_socket, args, &text);
    if (out)
        *out = text;
    return rv;
}

std::vector<LogEntry> Sim::log(uint64_t since)
{
    std::string text;
    std::vector<LogEntry> entries;
    if (ctl({"log", "--since", std::to_string(since)}, &text))
        return entries;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos)
            nl = text.size();
        LogEntry e;
        if (parse_log_line(text.substr(pos, nl - pos), &e))
            entries.push_back(e);
        pos = nl + 1;
    }
    return entries;
}

uint64_t Sim::last_seq()
{
    std::vector<LogEntry> all = log(0);
    return all.empty() ? 0 : all.back().seq;
}

uint32_t le32(const std::vector<uint8_t> &b, size_t off)
{
    if (off + 4 > b.size())
        return 0;
    return (uint32_t)b[off] | (uint32_t)b[off + 1] << 8 | (uint32_t)b[off + 2] << 16 |
           (uint32_t)b[off + 3] << 24;
}

uint16_t le16(const std::vector<uint8_t> &b, size_t off)
{
    if (off + 2 > b.size())
        return 0;
    return (uint16_t)(b[off] | b[off + 1] << 8);
}

int32_t le32s(const std::vector<uint8_t> &b, size_t off) { return (int32_t)le32(b, off); }

std::vector<uint8_t> from_hex(const std::string &hex)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back((uint8_t)strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    return out;
}

/* The value text after "key": in a flat log line (strings without escapes
 * for the keys read here; `fields` is the one nested object). */
static bool json_value(const std::string &line, const char *key, std::string *val)
{
    std::string pat = std::string("\"") + key + "\":";
    size_t p = line.find(pat);
    if (p == std::string::npos)
        return false;
    p += pat.size();
    if (line[p] == '"') {
        size_t e = line.find('"', p + 1);
        if (e == std::string::npos)
            return false;
        *val = line.substr(p + 1, e - p - 1);
    } else if (line[p] == '{') {
        int depth = 0;
        size_t e = p;
        bool in_str = false;
        for (; e < line.size(); e++) {
            char c = line[e];
            if (in_str) {
                if (c == '\\')
                    e++;
                else if (c == '"')
                    in_str = false;
            } else if (c == '"') {
                in_str = true;
            } else if (c == '{') {
                depth++;
            } else if (c == '}' && --depth == 0) {
                break;
            }
        }
        *val = line.substr(p, e - p + 1);
    } else {
        size_t e = line.find_first_of(",}", p);
        *val = line.substr(p, e - p);
    }
    return true;
}

bool parse_log_line(const std::string &line, LogEntry *e)
{
    std::string v;
    if (line.empty() || line[0] != '{' || !json_value(line, "seq", &v))
        return false;
    e->seq = strtoull(v.c_str(), nullptr, 10);
    if (json_value(line, "t_us", &v))
        e->t_us = strtoull(v.c_str(), nullptr, 10);
    if (json_value(line, "pid", &v))
        e->pid = atoi(v.c_str());
    json_value(line, "node", &e->node);
    json_value(line, "code", &e->code);
    json_value(line, "name", &e->name);
    if (json_value(line, "req", &v))
        e->req = from_hex(v);
    if (json_value(line, "rsp", &v))
        e->rsp = from_hex(v);
    if (json_value(line, "rv", &v))
        e->rv = atoi(v.c_str());
    json_value(line, "fields", &e->fields);
    e->json = line;
    return true;
}

} // namespace cardsim
