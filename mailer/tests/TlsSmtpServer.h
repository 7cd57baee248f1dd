#pragma once

// A mail server of the tests' own on loopback that speaks ESMTP: EHLO with its extensions,
// STARTTLS or TLS from the first byte with a certificate made at test time, AUTH PLAIN and LOGIN.
// It keeps what it received in the clear and what it received encrypted apart, so tests can tell
// where a password went.

#include "ScriptedSmtpServer.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <atomic>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace gardivo::testing {

// A self-signed certificate for one host name, and its key, in PEM.
struct TestCertificate {
    std::string certificate;
    std::string key;

    static TestCertificate forHost(const std::string& host) {
        TestCertificate out;
        EVP_PKEY* key = EVP_EC_gen("P-256");
        X509* cert = X509_new();
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3600 * 24);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>(host.c_str()), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        X509V3_CTX context;
        X509V3_set_ctx_nodb(&context);
        X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
        const std::string alt = "DNS:" + host;
        if (X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, alt.c_str())) {
            X509_add_ext(cert, ext, -1);
            X509_EXTENSION_free(ext);
        }
        if (X509_EXTENSION* ext =
                X509V3_EXT_conf_nid(nullptr, &context, NID_basic_constraints, "critical,CA:TRUE")) {
            X509_add_ext(cert, ext, -1);
            X509_EXTENSION_free(ext);
        }
        X509_sign(cert, key, EVP_sha256());
        BIO* bio = BIO_new(BIO_s_mem());
        PEM_write_bio_X509(bio, cert);
        out.certificate = drain(bio);
        PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
        out.key = drain(bio);
        BIO_free(bio);
        X509_free(cert);
        EVP_PKEY_free(key);
        return out;
    }

private:
    static std::string drain(BIO* bio) {
        char* data = nullptr;
        const long size = BIO_get_mem_data(bio, &data);
        std::string text(data, static_cast<size_t>(size));
        (void)BIO_reset(bio);
        return text;
    }
};

class TlsSmtpServer {
public:
    bool implicitTls = false;
    bool offerStartTls = true;
    std::string authMechanisms = "PLAIN LOGIN";
    bool acceptLogin = true;
    int temporaryFailures = 0; // MAIL is answered 451 this many times first
    std::string rcptReply = "250 ok\r\n";

    explicit TlsSmtpServer(const TestCertificate& certificate) {
        m_context = SSL_CTX_new(TLS_server_method());
        BIO* certBio =
            BIO_new_mem_buf(certificate.certificate.data(), static_cast<int>(certificate.certificate.size()));
        X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
        BIO* keyBio = BIO_new_mem_buf(certificate.key.data(), static_cast<int>(certificate.key.size()));
        EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
        SSL_CTX_use_certificate(m_context, cert);
        SSL_CTX_use_PrivateKey(m_context, key);
        X509_free(cert);
        EVP_PKEY_free(key);
        BIO_free(certBio);
        BIO_free(keyBio);
    }

    ~TlsSmtpServer() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_listener >= 0)
            ::close(m_listener);
        SSL_CTX_free(m_context);
    }

    bool listen() {
        m_listener = listenOnLoopback(0, m_port);
        if (m_listener < 0)
            return false;
        m_thread = std::thread([this] {
            while (!m_stop)
                serveOne();
        });
        return true;
    }

    int port() const { return m_port; }
    // What came over the wire before TLS, and what came inside it.
    std::string clearText() {
        std::lock_guard lock(m_mutex);
        return m_clear;
    }
    std::string encryptedText() {
        std::lock_guard lock(m_mutex);
        return m_encrypted;
    }
    int connections() const { return m_connections; }

private:
    struct Session {
        int fd = -1;
        SSL* ssl = nullptr;
        std::string pending;
    };

    void record(const Session& s, const std::string& bytes) {
        std::lock_guard lock(m_mutex);
        (s.ssl ? m_encrypted : m_clear) += bytes;
    }
    void write(Session& s, const std::string& text) {
        if (s.ssl)
            SSL_write(s.ssl, text.data(), static_cast<int>(text.size()));
        else
            ::send(s.fd, text.data(), text.size(), MSG_NOSIGNAL);
    }
    // One line, without its CRLF; false when the client went away.
    bool readLine(Session& s, std::string& line) {
        char buffer[4096];
        for (;;) {
            const size_t eol = s.pending.find("\r\n");
            if (eol != std::string::npos) {
                line = s.pending.substr(0, eol);
                s.pending.erase(0, eol + 2);
                return true;
            }
            const int n = s.ssl ? SSL_read(s.ssl, buffer, sizeof buffer)
                                : static_cast<int>(::recv(s.fd, buffer, sizeof buffer, 0));
            if (n <= 0)
                return false;
            const std::string bytes(buffer, static_cast<size_t>(n));
            record(s, bytes);
            s.pending += bytes;
        }
    }
    bool startTls(Session& s) {
        s.ssl = SSL_new(m_context);
        SSL_set_fd(s.ssl, s.fd);
        return SSL_accept(s.ssl) == 1;
    }

    void serveOne() {
        pollfd p{m_listener, POLLIN, 0};
        if (::poll(&p, 1, 50) != 1)
            return;
        Session s;
        s.fd = ::accept(m_listener, nullptr, nullptr);
        if (s.fd < 0)
            return;
        ++m_connections;
        timeval patience{5, 0};
        ::setsockopt(s.fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        if (!implicitTls || startTls(s))
            converse(s);
        if (s.ssl)
            SSL_free(s.ssl);
        ::close(s.fd);
    }

    void converse(Session& s) {
        write(s, "220 test ESMTP\r\n");
        std::string line;
        // As a real server does, TLS starts the session afresh: until the client greets again,
        // what it learnt before counts for nothing (RFC 3207).
        bool greeted = false;
        while (!m_stop && readLine(s, line)) {
            const std::string word = line.substr(0, line.find(' '));
            if (!greeted && (word == "AUTH" || word == "MAIL")) {
                write(s, "503 5.5.1 EHLO first\r\n");
                continue;
            }
            if (word == "EHLO" || word == "HELO")
                greeted = true;
            if (word == "EHLO") {
                std::string reply = "250-test\r\n";
                if (offerStartTls && !s.ssl)
                    reply += "250-STARTTLS\r\n";
                if (!authMechanisms.empty())
                    reply += "250-AUTH " + authMechanisms + "\r\n";
                write(s, reply + "250 HELP\r\n");
            } else if (word == "HELO") {
                write(s, "250 hello\r\n");
            } else if (word == "STARTTLS") {
                write(s, "220 go ahead\r\n");
                if (!startTls(s))
                    return;
                greeted = false;
            } else if (line.rfind("AUTH PLAIN", 0) == 0) {
                write(s, acceptLogin ? "235 welcome\r\n" : "535 5.7.8 bad credentials\r\n");
            } else if (line == "AUTH LOGIN") {
                write(s, "334 VXNlcm5hbWU6\r\n");
                if (!readLine(s, line))
                    return;
                write(s, "334 UGFzc3dvcmQ6\r\n");
                if (!readLine(s, line))
                    return;
                write(s, acceptLogin ? "235 welcome\r\n" : "535 5.7.8 bad credentials\r\n");
            } else if (word == "MAIL") {
                if (temporaryFailures > 0) {
                    --temporaryFailures;
                    write(s, "451 4.3.0 try again later\r\n");
                } else {
                    write(s, "250 ok\r\n");
                }
            } else if (word == "RCPT") {
                write(s, rcptReply);
            } else if (word == "DATA") {
                write(s, "354 go on\r\n");
                while (readLine(s, line) && line != ".") {
                }
                write(s, "250 queued\r\n");
            } else if (word == "QUIT") {
                write(s, "221 bye\r\n");
                return;
            } else {
                write(s, "502 what\r\n");
            }
        }
    }

    SSL_CTX* m_context;
    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::mutex m_mutex;
    std::string m_clear;
    std::string m_encrypted;
};

} // namespace gardivo::testing
