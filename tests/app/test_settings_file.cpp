// The settings file: reading and writing single keys of an INI file in a temporary directory,
// its failure cases (read-only file or directory, a write cut short) and malformed files.
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "app/settings_file.h"
#include "settings_invariants.h"

using namespace quorvel;

namespace {

const QByteArray missing_file("<no file>");

QByteArray bytes(const std::string& text) { return QByteArray(text.data(), qsizetype(text.size())); }
std::string text(const QByteArray& bytes) { return std::string(bytes.constData(), size_t(bytes.size())); }

// A literal with the NUL bytes inside it.
template <std::size_t size>
QByteArray raw(const char (&literal)[size])
{
    return QByteArray(literal, qsizetype(size - 1));
}

std::string file_contents(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

void put_file(const std::string& path, const std::string& contents)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

mode_t mode_of(const std::string& path)
{
    struct stat status {};
    ::stat(path.c_str(), &status);
    return status.st_mode & 07777;
}

QByteArray random_bytes(std::size_t size)
{
    std::mt19937 random(7);
    QByteArray data(qsizetype(size), '\0');
    for (char& byte : data) byte = char(random());
    return data;
}

}  // namespace

class test_settings_file : public QObject {
    Q_OBJECT

public:
    explicit test_settings_file(std::string program) : program_(std::move(program)) {}

private slots:
    void init();
    void cleanup();
    void path_is_next_to_the_program();
    void read_data();
    void read();
    void read_skips_leading_control_bytes_of_the_path();
    void read_cuts_long_values_data();
    void read_cuts_long_values();
    void first_start_creates_file_and_section();
    void write_data();
    void write();
    void each_call_reads_the_file_afresh();
    void write_keeps_mode_and_follows_links();
    void write_cut_short_leaves_the_old_file();
    void read_only_file_is_left_alone();
    void unwritable_directory_is_left_alone();
    void malformed_files_data();
    void malformed_files();
    void fuzz_corpus_files();

private:
    std::string path() const { return dir_->filePath("ini.ini").toStdString(); }
    void check_write_keeps_the_rest(const std::string& before);

    std::string program_;
    std::unique_ptr<QTemporaryDir> dir_;
};

void test_settings_file::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void test_settings_file::cleanup()
{
    ::chmod(dir_->path().toLocal8Bit().constData(), 0700);  // so that it can be removed
    dir_.reset();
}

void test_settings_file::path_is_next_to_the_program()
{
    char real[PATH_MAX];
    QVERIFY(::realpath(program_.c_str(), real) != nullptr);
    const std::string program(real);
    QCOMPARE(settings_path(), program.substr(0, program.rfind('/')) + "/ini.ini");
}

void test_settings_file::read_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("fallback");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray s("pingtest");
    const QByteArray k("gway_ip");
    const QByteArray d("192.168.0.1");
    QTest::newRow("no file") << missing_file << s << k << d << d;
    QTest::newRow("empty file") << QByteArray() << s << k << d << d;
    QTest::newRow("no section") << QByteArray("[other]\ngway_ip=a\n") << s << k << d << d;
    QTest::newRow("no key") << QByteArray("[pingtest]\nouter_ip=1\n") << s << k << d << d;
    QTest::newRow("no key, empty default") << QByteArray("[pingtest]\n") << s << k << QByteArray() << QByteArray();
    QTest::newRow("present") << QByteArray("[pingtest]\ngway_ip=10.0.0.138\n") << s << k << d << QByteArray("10.0.0.138");
    QTest::newRow("present but empty") << QByteArray("[pingtest]\ngway_ip=\n") << s << k << d << QByteArray();
    QTest::newRow("names in any case") << QByteArray("[PingTest]\nGWAY_IP=x\n") << s << k << d << QByteArray("x");
    QTest::newRow("first key wins") << QByteArray("[pingtest]\ngway_ip=1\ngway_ip=2\n") << s << k << d << QByteArray("1");
    QTest::newRow("first section wins")
        << QByteArray("[pingtest]\nouter_ip=1\n[pingtest]\ngway_ip=2\n") << s << k << d << d;
    QTest::newRow("key of the next section") << QByteArray("[pingtest]\n[other]\ngway_ip=2\n") << s << k << d << d;
    QTest::newRow("CRLF") << QByteArray("[pingtest]\r\ngway_ip=a b\r\nx=1\r\n") << s << k << d << QByteArray("a b");
    QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF[pingtest]\ngway_ip=a\n") << s << k << d << QByteArray("a");
    QTest::newRow("no final newline") << QByteArray("[pingtest]\ngway_ip=end") << s << k << d << QByteArray("end");
    QTest::newRow("blanks around names, value as it stands")
        << QByteArray(" [ pingtest ] ; note\n\t gway_ip \t= a \n") << s << k << d << QByteArray(" a ");
    QTest::newRow("comment line") << QByteArray("[pingtest]\n;gway_ip=1\n") << s << k << d << d;
    QTest::newRow("key without equals sign") << QByteArray("[pingtest]\ngway_ip\n") << s << k << d << d;
    QTest::newRow("header without bracket") << QByteArray("[pingtest\ngway_ip=1\n") << s << k << d << d;
    QTest::newRow("value ends at a NUL byte") << raw("[pingtest]\ngway_ip=ab\0cd\n") << s << k << d << QByteArray("ab");
    QTest::newRow("wide characters") << QByteArray("[pingtest]\ngway_ip=网关\n") << s << k << d << QByteArray("网关");
    QTest::newRow("leading control bytes of section and key skipped")
        << QByteArray("[pingtest]\ngway_ip=a\n") << QByteArray("\t pingtest") << QByteArray("\x01\x1f gway_ip") << d
        << QByteArray("a");
    QTest::newRow("empty section gives empty text, not the default")
        << QByteArray("[pingtest]\ngway_ip=a\n") << QByteArray(" \t") << k << d << QByteArray();
    QTest::newRow("empty key gives empty text, not the default")
        << QByteArray("[pingtest]\n=a\n") << s << QByteArray() << d << QByteArray();
}

void test_settings_file::read()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, fallback);
    QFETCH(QByteArray, expected);
    if (file != missing_file) put_file(path(), text(file));
    QCOMPARE(bytes(read_setting(path(), text(section), text(key), text(fallback))), expected);
}

void test_settings_file::read_skips_leading_control_bytes_of_the_path()
{
    put_file(path(), "[pingtest]\ngway_ip=a\n");
    QCOMPARE(read_setting(" \t\n" + path(), settings_section, "gway_ip", "d"), std::string("a"));
    QCOMPARE(read_setting("  ", settings_section, "gway_ip", "d"), std::string());
    QCOMPARE(read_setting("", settings_section, "gway_ip", "d"), std::string());
}

void test_settings_file::read_cuts_long_values_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("expected_size");
    QTest::newRow("fits") << QByteArray(10239, 'x') << 10239;
    QTest::newRow("one byte over") << QByteArray(10240, 'x') << 10239;
    QTest::newRow("far over") << QByteArray(20000, 'x') << 10239;
    // A character cut in two at the limit goes as a whole.
    QTest::newRow("wide character at the limit") << QByteArray(10238, 'x') + "网" << 10238;
}

void test_settings_file::read_cuts_long_values()
{
    QFETCH(QByteArray, value);
    QFETCH(int, expected_size);
    put_file(path(), "[pingtest]\ngway_ip=" + text(value) + "\n");
    const std::string read = read_setting(path(), settings_section, "gway_ip", "");
    QCOMPARE(read.size(), size_t(expected_size));
    QVERIFY(value.startsWith(bytes(read)));
    const std::string fallback = read_setting(path(), settings_section, "outer_ip", text(value));
    QCOMPARE(fallback, read);
}

void test_settings_file::first_start_creates_file_and_section()
{
    write_setting(path(), settings_section, "gway_ip", "192.168.0.1");
    for (const char* key : {"gway_pi_start", "gway_ou_start", "outer_pi_start", "outer_ou_start"})
        write_setting(path(), settings_section, key, "0");
    QCOMPARE(bytes(file_contents(path())),
             QByteArray("[pingtest]\ngway_ip=192.168.0.1\ngway_pi_start=0\ngway_ou_start=0\n"
                        "outer_pi_start=0\nouter_ou_start=0\n"));
    QCOMPARE(read_setting(path(), settings_section, "gway_ip", ""), std::string("192.168.0.1"));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"ini.ini"});
}

void test_settings_file::write_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("after");
    const QByteArray k("gway_ip");
    QTest::newRow("value replaced, every other byte kept")
        << QByteArray("; top\r\n[other]\r\ngway_ip=keep\r\n\r\n[pingtest]\r\nouter_ip=1\r\n  gway_ip = old\r\n; tail\r\n")
        << k << QByteArray("new")
        << QByteArray("; top\r\n[other]\r\ngway_ip=keep\r\n\r\n[pingtest]\r\nouter_ip=1\r\n  gway_ip =new\r\n; tail\r\n");
    QTest::newRow("key added after the section's last key")
        << QByteArray("[pingtest]\na=1\n; note\n\n[other]\nb=2\n") << k << QByteArray("x")
        << QByteArray("[pingtest]\na=1\ngway_ip=x\n; note\n\n[other]\nb=2\n");
    QTest::newRow("new key line ends in LF in a CRLF file")
        << QByteArray("[pingtest]\r\na=1\r\n") << k << QByteArray("x") << QByteArray("[pingtest]\r\na=1\r\ngway_ip=x\n");
    QTest::newRow("section added at the end, after a line break")
        << QByteArray("[other]\nb=2") << k << QByteArray("x") << QByteArray("[other]\nb=2\n[pingtest]\ngway_ip=x\n");
    QTest::newRow("header without line break") << QByteArray("[pingtest]") << k << QByteArray("x")
                                               << QByteArray("[pingtest]\ngway_ip=x\n");
    QTest::newRow("empty file") << QByteArray() << k << QByteArray("x") << QByteArray("[pingtest]\ngway_ip=x\n");
    QTest::newRow("empty value keeps the key") << QByteArray("[pingtest]\ngway_ip=abc\nz=1\n") << k << QByteArray()
                                               << QByteArray("[pingtest]\ngway_ip=\nz=1\n");
    QTest::newRow("names in any case") << QByteArray("[PINGTEST]\nGway_IP=1\n") << k << QByteArray("2")
                                       << QByteArray("[PINGTEST]\nGway_IP=2\n");
    QTest::newRow("only the first of duplicates")
        << QByteArray("[pingtest]\ngway_ip=1\ngway_ip=2\n[pingtest]\ngway_ip=3\n") << k << QByteArray("4")
        << QByteArray("[pingtest]\ngway_ip=4\ngway_ip=2\n[pingtest]\ngway_ip=3\n");
    QTest::newRow("byte order mark kept") << QByteArray("\xEF\xBB\xBF[pingtest]\ngway_ip=1\n") << k << QByteArray("2")
                                          << QByteArray("\xEF\xBB\xBF[pingtest]\ngway_ip=2\n");
    QTest::newRow("value is one line") << QByteArray("[pingtest]\n") << k << QByteArray("a\nb=c")
                                       << QByteArray("[pingtest]\ngway_ip=a\n");
    QTest::newRow("key that could not be read back") << QByteArray("[pingtest]\n") << QByteArray("a=b")
                                                     << QByteArray("x") << QByteArray("[pingtest]\n");
}

void test_settings_file::write()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, after);
    put_file(path(), text(before));
    write_setting(path(), settings_section, text(key), text(value));
    QCOMPARE(bytes(file_contents(path())), after);
    if (key == "gway_ip")
        QCOMPARE(read_setting(path(), settings_section, "gway_ip", "default"), text(value).substr(0, value.indexOf('\n')));
}

void test_settings_file::each_call_reads_the_file_afresh()
{
    write_setting(path(), settings_section, "gway_ip", "first");
    QCOMPARE(read_setting(path(), settings_section, "gway_ip", ""), std::string("first"));
    put_file(path(), "[pingtest]\ngway_ip=changed elsewhere\n");  // another running copy
    QCOMPARE(read_setting(path(), settings_section, "gway_ip", ""), std::string("changed elsewhere"));
    write_setting(path(), settings_section, "outer_ip", "1");
    QCOMPARE(bytes(file_contents(path())), QByteArray("[pingtest]\ngway_ip=changed elsewhere\nouter_ip=1\n"));
}

void test_settings_file::write_keeps_mode_and_follows_links()
{
    const std::string target = dir_->filePath("real.ini").toStdString();
    put_file(target, "[pingtest]\ngway_ip=1\n");
    ::chmod(target.c_str(), 0640);
    QCOMPARE(::symlink("real.ini", path().c_str()), 0);
    write_setting(path(), settings_section, "gway_ip", "2");
    QCOMPARE(bytes(file_contents(target)), QByteArray("[pingtest]\ngway_ip=2\n"));
    QCOMPARE(mode_of(target), mode_t(0640));
    struct stat link {};
    QCOMPARE(::lstat(path().c_str(), &link), 0);
    QVERIFY(S_ISLNK(link.st_mode));
}

// A write that fails half-way (here: the file size limit) must leave the old file whole, and no
// temporary file behind.
void test_settings_file::write_cut_short_leaves_the_old_file()
{
    const std::string before = "[pingtest]\ngway_ip=" + std::string(4000, 'a') + "\n";
    put_file(path(), before);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old_limit{};
    ::getrlimit(RLIMIT_FSIZE, &old_limit);
    rlimit limit = old_limit;
    limit.rlim_cur = 2048;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    write_setting(path(), settings_section, "gway_ip", std::string(4001, 'b'));
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);
    QCOMPARE(file_contents(path()), before);
    QCOMPARE(QDir(dir_->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"ini.ini"});
    write_setting(path(), settings_section, "gway_ip", "c");
    QCOMPARE(file_contents(path()), std::string("[pingtest]\ngway_ip=c\n"));
}

// Also as root, who could write it: the file's mode says it is not to be changed.
void test_settings_file::read_only_file_is_left_alone()
{
    const std::string before = "[pingtest]\r\ngway_ip=1\r\n";
    put_file(path(), before);
    ::chmod(path().c_str(), 0444);
    write_setting(path(), settings_section, "gway_ip", "2");
    write_setting(path(), settings_section, "outer_ip", "1");
    QCOMPARE(file_contents(path()), before);
    QCOMPARE(mode_of(path()), mode_t(0444));
    QCOMPARE(read_setting(path(), settings_section, "gway_ip", ""), std::string("1"));
}

void test_settings_file::unwritable_directory_is_left_alone()
{
    const std::string before = "[pingtest]\ngway_ip=1\n";
    put_file(path(), before);
    const std::string missing = dir_->filePath("absent.ini").toStdString();
    QCOMPARE(::chmod(dir_->path().toLocal8Bit().constData(), 0555), 0);
    write_setting(path(), settings_section, "gway_ip", "2");
    write_setting(missing, settings_section, "gway_ip", "2");
    ::chmod(dir_->path().toLocal8Bit().constData(), 0700);
    QCOMPARE(file_contents(path()), before);
    QCOMPARE(QDir(dir_->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"ini.ini"});
}

void test_settings_file::malformed_files_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("expected");  // gway_ip as read, "-" for the default
    const QByteArray fallback("-");
    QTest::newRow("binary garbage") << random_bytes(1 << 16) << fallback;
    QTest::newRow("garbage around the key")
        << random_bytes(5000) + "\n[pingtest]\ngway_ip=ok\n" + random_bytes(5000) << QByteArray("ok");
    QTest::newRow("NUL bytes") << QByteArray(4096, '\0') << fallback;
    QTest::newRow("NUL bytes in lines") << raw("[pingtest]\n\0\0=\0\ngway_ip=\0x\n\0") << QByteArray();
    QByteArray block;
    for (int i = 0; i < 1000; ++i) block += "key" + QByteArray::number(i) + "=value\n";
    const QByteArray big = "[bulk]\n" + block.repeated(50 * 1024 * 1024 / block.size() + 1);
    QTest::newRow("50 MB file") << big + "[pingtest]\ngway_ip=at the end\n" << QByteArray("at the end");
    QTest::newRow("1 MB line") << "[pingtest]\nouter_ip=" + QByteArray(1 << 20, 'v') + "\ngway_ip=after\n"
                               << QByteArray("after");
    QTest::newRow("1 MB line without line break") << "[pingtest]\n" + QByteArray(1 << 20, '[') << fallback;
    QTest::newRow("header without bracket") << QByteArray("[pingtest\ngway_ip=1\n[other\n") << fallback;
    QTest::newRow("keys without equals sign") << QByteArray("[pingtest]\ngway_ip\nouter_ip 1\n") << fallback;
    QTest::newRow("no final newline") << QByteArray("[pingtest]\nouter_ip=1\ngway_ip=2") << QByteArray("2");
    QTest::newRow("only carriage returns") << QByteArray("[pingtest]\rgway_ip=1\r") << fallback;
    QTest::newRow("only a byte order mark") << QByteArray("\xEF\xBB\xBF") << fallback;
}

// Reading gives the key where it can be found and the default elsewhere; a write then changes
// that one key and keeps every other byte.
void test_settings_file::malformed_files()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, expected);
    put_file(path(), text(file));
    QCOMPARE(bytes(read_setting(path(), settings_section, "gway_ip", "-")), expected);
    check_write_keeps_the_rest(text(file));
}

void test_settings_file::fuzz_corpus_files()
{
    const QDir corpus(QUORVEL_SETTINGS_CORPUS);
    const QStringList names = corpus.entryList(QDir::Files);
    QVERIFY(!names.isEmpty());
    for (const QString& name : names) {
        const std::string before = file_contents(corpus.filePath(name).toStdString());
        put_file(path(), before);
        for (const char* key : {"gway_ip", "outer_ip", "GWAY_IP", " gway_ip"})
            QVERIFY(read_setting(path(), settings_section, key, "-").size() <= 10239);
        check_write_keeps_the_rest(before);
        if (QTest::currentTestFailed()) qWarning("corpus file %s", qPrintable(name));
    }
}

void test_settings_file::check_write_keeps_the_rest(const std::string& before)
{
    const std::string other_key = read_setting(path(), settings_section, "outer_ip", "-");
    write_setting(path(), settings_section, "gway_ip", "127.0.0.9");
    const std::string after = file_contents(path());
    QVERIFY(testing::rest_of_file_kept(before, after));
    QCOMPARE(read_setting(path(), settings_section, "gway_ip", "-"), std::string("127.0.0.9"));
    QCOMPARE(read_setting(path(), settings_section, "outer_ip", "-"), other_key);
}

int main(int argc, char** argv)
{
    test_settings_file test(argv[0]);
    return QTest::qExec(&test, argc, argv);
}

#include "test_settings_file.moc"
