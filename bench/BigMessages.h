#pragma once

// Big messages built in memory for the viewer's benchmarks: a 5 MB HTML newsletter (text and
// tables, a few remote pictures for the sanitiser to remove), a multipart whose bulk is a base64
// attachment, and a plain-text message that is one long line.

#include <cstddef>
#include <string>

namespace tarnwick::bench {

inline const std::string Header =
    "From: \"News\" <news@shop.example>\r\nTo: you@example.org\r\n"
    "Subject: =?utf-8?q?Gro=C3=9Fe_Auswahl?=\r\nDate: Tue, 1 Jul 2025 10:52:37 +0200\r\n"
    "MIME-Version: 1.0\r\n";

inline std::string HtmlNewsletter(std::size_t size)
{
    std::string m = Header +
                    "Content-Type: text/html; charset=utf-8\r\n\r\n<html><head><style>p{}</style></head>"
                    "<body>\r\n";
    for (int row = 0; m.size() < size; ++row) {
        m += "<table width=\"600\" cellpadding=\"4\" style=\"border: 1px solid #ccc\"><tr><td "
             "bgcolor=\"#eeeeee\">"
             "<h2>Offer " +
             std::to_string(row) +
             "</h2><p style=\"color: #333; font-family: Arial\">Lorem ipsum dolor sit amet, consectetur "
             "adipiscing elit &amp; sed do eiusmod tempor <b>incididunt</b> ut labore et dolore magna "
             "aliqua.</p>"
             "</td><td><a href=\"https://shop.example/item?id=" +
             std::to_string(row) + "&amp;ref=mail\"><img src=\"https://cdn.shop.example/i/" +
             std::to_string(row) + ".jpg\" width=\"120\" alt=\"Item\"></a></td></tr></table>\r\n";
    }
    return m + "</body></html>\r\n";
}

inline std::string WithAttachment(std::size_t attachment)
{
    std::string m = Header + "Content-Type: multipart/mixed; boundary=\"mix\"\r\n\r\n--mix\r\n"
                             "Content-Type: text/html; charset=utf-8\r\n\r\n";
    while (m.size() < 1000000)
        m += "<p>Please find the <i>report</i> attached. Kind regards, the team.</p>\r\n";
    m +=
        "--mix\r\nContent-Type: application/pdf; name=\"report.pdf\"\r\nContent-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment; filename=\"report.pdf\"\r\n\r\n";
    const std::string line =
        "JVBERi0xLjQKJcfsj6IKNSAwIG9iago8PC9MZW5ndGggNiAwIFIvRmlsdGVyIC9GbGF0ZURlY29kZT4+\r\n";
    for (std::size_t written = 0; written < attachment; written += line.size())
        m += line;
    return m + "--mix--\r\n";
}

inline std::string OneLongLine(std::size_t size)
{
    return Header + "Content-Type: text/plain; charset=utf-8\r\n\r\n" + std::string(size, 'x') + "\r\n";
}

} // namespace tarnwick::bench
