#pragma once

#include <string>
#include <string_view>

// The history's jobs written as JSON straight from a database's UTF-8
// columns: Qt's JSON classes would cost more than reading the rows.
namespace quorvel::server {

// The columns jobJson() reads, in the order writeListedJob() takes them.
inline constexpr const char *kListedJobColumns =
    "SELECT seq, created_at, file_name, id, page_number, result_file_typ, source_file_md5, "
    "upload_id, source_file_typ, state, typ, user_id, fail_reason, note FROM jobs ";

// A JSON string as QJsonDocument writes it: quote, backslash and control
// characters escaped, everything else as UTF-8.
void appendJsonString(std::string &out, std::string_view s);

// jobJson() as compact JSON, keys in the order QJsonDocument writes them, from
// a row of kListedJobColumns (`text(i)` and `integer(i)`).
template <typename Row> void writeListedJob(const Row &q, std::string &o) {
    o.clear();
    o += "{\"create_at\":";
    appendJsonString(o, q.text(1));
    if (const std::string_view reason = q.text(12); !reason.empty()) {
        o += ",\"fail_reason\":";
        appendJsonString(o, reason);
    }
    o += ",\"file_name\":";
    appendJsonString(o, q.text(2));
    o += ",\"id\":";
    appendJsonString(o, q.text(3));
    if (const std::string_view note = q.text(13); !note.empty()) {
        o += ",\"note\":";
        appendJsonString(o, note);
    }
    o += ",\"page_number\":";
    o += std::to_string(q.integer(4));
    o += ",\"result_file_typ\":";
    appendJsonString(o, q.text(5));
    o += ",\"source_file_md5\":";
    appendJsonString(o, q.text(6));
    o += ",\"source_file_path\":";
    thread_local std::string path;
    path = "uploads/";
    path += q.text(7);
    path += '/';
    path += q.text(2);
    appendJsonString(o, path);
    o += ",\"source_file_typ\":";
    appendJsonString(o, q.text(8));
    o += ",\"status\":";
    const std::string_view state = q.text(9);
    o += state == "completed" ? '1' : state == "failed" ? '2' : '0';
    o += ",\"typ\":";
    thread_local std::string typ;
    typ = q.text(10);
    for (char &c : typ) // codes are ASCII
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    appendJsonString(o, typ);
    o += ",\"user_id\":\"";
    o += std::to_string(q.integer(11));
    o += "\"}";
}

} // namespace quorvel::server
