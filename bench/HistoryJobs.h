#pragma once

#include <QByteArray>

// One job of a large benchmark history, as the service writes it: varied names (Latin, German,
// Chinese), types and page counts, about 340 bytes each.
inline QByteArray historyJob(int i, int status) {
    static const char *const names[] = {"Quarterly report", "Straße plan",  "invoice",
                                        "Präsentation",     "thesis draft", "年度报告",
                                        "meeting notes",    "contract"};
    static const char *const types[] = {"pdf2doc", "pdf2pptx", "pdf2img", "pdf2md", "docx2pdf"};
    const QByteArray n = QByteArray::number(i);
    const QByteArray hex = QByteArray::number(quint64(i) * 2654435761u, 16).rightJustified(32, '0');
    return "{\"id\":\"" + QByteArray::number(quint64(i) * 7919u, 16).rightJustified(8, '0') +
           "-4b1d-9c2a-" + n.rightJustified(12, '0') + "\",\"user_id\":\"user-000123\",\"typ\":\"" +
           types[i % 5] + "\",\"file_name\":\"" + names[i % 8] + " " + n + " final version.pdf\"," +
           "\"page_number\":" + QByteArray::number(1 + i % 300) +
           ",\"source_file_path\":\"/uploads/" + hex.left(16) + ".pdf\"," +
           "\"source_file_typ\":\"pdf\",\"result_file_typ\":\"docx\",\"source_file_md5\":\"" + hex +
           "\",\"status\":" + QByteArray::number(status) +
           ",\"create_at\":\"2025-01-31T08:15:00Z\"}";
}
