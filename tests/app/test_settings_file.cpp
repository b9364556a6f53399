// The settings file: reading and writing single keys of an INI file in a temporary directory,
// its failure cases (read-only file or directory, a write cut short) and malformed files.
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>

#include "app/settings_file.h"
#include "settings_invariants.h"

using namespace quorvel;

namespace {

const QByteArray missing_file("<no file>");
// What a folder holds after a write: the file and the lock file that writers take turns on.
const QStringList after_a_write{".ini.ini.lock", "ini.ini"};

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


struct stat status_of(const std::string& path)
{
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return status;
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// ---- Child processes: a second writer, a writer to kill, an unprivileged user ---------------

// The tests run as root; these run as a user without privileges, given one extra group that
// group-owned test files use.
constexpr uid_t unprivileged_user = 65534;
constexpr gid_t unprivileged_group = 65534;
constexpr gid_t shared_group = 4242;

struct child {
    pid_t pid = -1;
    int output = -1;
};

bool drop_privileges()
{
    const gid_t groups[] = {shared_group};
    return ::setgroups(1, groups) == 0 &&
           ::setresgid(unprivileged_group, unprivileged_group, unprivileged_group) == 0 &&
           ::setresuid(unprivileged_user, unprivileged_user, unprivileged_user) == 0;
}

child start_child(const std::function<std::string()>& body, bool unprivileged = false)
{
    int fds[2];
    if (::pipe(fds) != 0) return {};
    const pid_t pid = ::fork();
    if (pid != 0) {
        ::close(fds[1]);
        return {pid, fds[0]};
    }
    ::close(fds[0]);
    if (unprivileged && !drop_privileges()) ::_exit(2);
    const std::string result = body();
    const bool written = ::write(fds[1], result.data(), result.size()) == ssize_t(result.size());
    ::_exit(written ? 0 : 3);
}

// What the child's body returned, or "<child failed>".
std::string finish(const child& started)
{
    if (started.pid < 0) return "<child failed>";
    std::string result;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(started.output, buffer, sizeof buffer)) > 0) result.append(buffer, size_t(got));
    ::close(started.output);
    int status = 0;
    ::waitpid(started.pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? result : "<child failed>";
}

std::string as_unprivileged(const std::function<std::string()>& body)
{
    return finish(start_child(body, true));
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
    void malformed_files_data();
    void malformed_files();
    void fuzz_corpus_files();

    void folder_not_writable_data();
    void folder_not_writable();
    void write_waits_for_the_lock_data();
    void write_waits_for_the_lock();
    void two_writers_keep_each_others_keys();
    void killed_writes_leave_a_whole_file();
    void stale_temporaries_data();
    void stale_temporaries();
    void write_follows_links_data();
    void write_follows_links();
    void long_file_names_data();
    void long_file_names();
    void new_file_mode_data();
    void new_file_mode();
    void replaced_file_keeps_mode_data();
    void replaced_file_keeps_mode();
    void owner_and_group_data();
    void owner_and_group();
    void settings_location_data();
    void settings_location();
    void root_never_makes_a_settings_file_under_usr();

private:
    std::string path() const { return dir_->filePath("ini.ini").toStdString(); }
    std::string in_dir(const std::string& name) const { return dir_->filePath(QString::fromStdString(name)).toStdString(); }
    QStringList entries() const;
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
    QCOMPARE(entries(), after_a_write);
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
    QCOMPARE(entries(), after_a_write);
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
    QCOMPARE(entries(), QStringList{"ini.ini"});
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

QStringList test_settings_file::entries() const
{
    return QDir(dir_->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// Where the file is writable but its folder is not, the file is rewritten in place (same inode)
// and nothing is made beside it; a file that is not writable either stays as it was.
void test_settings_file::folder_not_writable_data()
{
    QTest::addColumn<QByteArray>("file");  // missing_file for none
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("unprivileged");
    QTest::addColumn<QByteArray>("after");
    const QByteArray before("[pingtest]\ngway_ip=1\nouter_ip=0\n");
    const QByteArray changed("[pingtest]\ngway_ip=127.0.0.1\nouter_ip=0\n");
    QTest::newRow("writable file: in place") << before << 0644 << false << changed;
    QTest::newRow("writable file, shorter contents") << QByteArray("[pingtest]\ngway_ip=" + QByteArray(300, 'x') + "\n")
                                                    << 0644 << false << QByteArray("[pingtest]\ngway_ip=127.0.0.1\n");
    QTest::newRow("writable file of the user's own") << before << 0644 << true << changed;
    QTest::newRow("read-only file stays") << before << 0444 << false << before;
    QTest::newRow("read-only file of the user's own stays") << before << 0444 << true << before;
    QTest::newRow("no file: none is made") << missing_file << 0644 << false << missing_file;
}

void test_settings_file::folder_not_writable()
{
    QFETCH(QByteArray, file);
    QFETCH(int, mode);
    QFETCH(bool, unprivileged);
    QFETCH(QByteArray, after);
    if (unprivileged && ::geteuid() != 0) QSKIP("needs root, to act as an unprivileged user");
    const std::string folder = dir_->path().toStdString();
    if (file != missing_file) {
        put_file(path(), text(file));
        ::chmod(path().c_str(), mode_t(mode));
        if (unprivileged) QCOMPARE(::chown(path().c_str(), unprivileged_user, unprivileged_group), 0);
    }
    const ino_t inode = status_of(path()).st_ino;
    QCOMPARE(::chmod(folder.c_str(), 0555), 0);
    const auto write = [this] {
        write_setting(path(), settings_section, "gway_ip", "127.0.0.1");
        return std::string("written");
    };
    if (unprivileged) QCOMPARE(as_unprivileged(write), std::string("written"));
    else write();
    ::chmod(folder.c_str(), 0700);
    if (after == missing_file) {
        QVERIFY(!exists(path()));
        QCOMPARE(entries(), QStringList());
        return;
    }
    QCOMPARE(bytes(file_contents(path())), after);
    QCOMPARE(status_of(path()).st_ino, inode);
    QCOMPARE(mode_of(path()), mode_t(mode));
    QCOMPARE(entries(), QStringList{"ini.ini"});
}

// A writer that finds the lock taken waits for it, at most half a second, then writes anyway.
void test_settings_file::write_waits_for_the_lock_data()
{
    QTest::addColumn<bool>("folder_writable");
    QTest::addColumn<QString>("held");
    QTest::newRow("lock file beside the settings file") << true << ".ini.ini.lock";
    QTest::newRow("the file itself, where no lock file can be made") << false << "ini.ini";
}

void test_settings_file::write_waits_for_the_lock()
{
    QFETCH(bool, folder_writable);
    QFETCH(QString, held);
    put_file(path(), "[pingtest]\n");
    const int holder = ::open(dir_->filePath(held).toLocal8Bit().constData(), O_RDONLY | O_CREAT, 0644);
    QVERIFY(holder >= 0);
    QCOMPARE(::flock(holder, LOCK_EX), 0);  // another copy in the middle of a write
    if (!folder_writable) QCOMPARE(::chmod(dir_->path().toLocal8Bit().constData(), 0555), 0);
    QElapsedTimer timer;
    timer.start();
    write_setting(path(), settings_section, "gway_ip", "127.0.0.1");
    const qint64 waited = timer.elapsed();
    QVERIFY2(waited >= 490 && waited < 3000, qPrintable(QString::number(waited)));
    QCOMPARE(read_setting(path(), settings_section, "gway_ip", ""), std::string("127.0.0.1"));
    ::close(holder);
    timer.restart();
    write_setting(path(), settings_section, "gway_ip", "127.0.0.2");
    QVERIFY2(timer.elapsed() < 400, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(read_setting(path(), settings_section, "gway_ip", ""), std::string("127.0.0.2"));
}

// Two copies in one folder, each changing keys of its own: every key ends with the last value
// its writer gave it, since each write starts from the other's latest file.
void test_settings_file::two_writers_keep_each_others_keys()
{
    constexpr int writes = 3000;
    constexpr int keys = 10;
    // In memory where possible: the turns matter here, not the disk, and fsync costs a lot there.
    QTemporaryDir memory(QDir("/dev/shm").exists() ? "/dev/shm/settings_test-XXXXXX" : QDir::tempPath() + "/settings_test-XXXXXX");
    QVERIFY(memory.isValid());
    const std::string shared = memory.filePath("ini.ini").toStdString();
    const auto key = [](char writer, int index) { return std::string{writer, '_'} + std::to_string(index % keys); };
    const auto writer = [&](char name) {
        return [&, name] {
            for (int i = 0; i < writes; ++i) write_setting(shared, settings_section, key(name, i), std::to_string(i));
            return std::string("done");
        };
    };
    const child first = start_child(writer('a'));
    const child second = start_child(writer('b'));
    QCOMPARE(finish(first), std::string("done"));
    QCOMPARE(finish(second), std::string("done"));
    for (const char name : {'a', 'b'}) {
        for (int i = writes - keys; i < writes; ++i)
            QCOMPARE(read_setting(shared, settings_section, key(name, i), "-"), std::to_string(i));
    }
    QCOMPARE(QDir(memory.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), after_a_write);
}

// SIGKILL at random moments of writes that replace a 256 KB file: the file is always one whole
// version, and the next write removes what the killed writers left.
void test_settings_file::killed_writes_leave_a_whole_file()
{
    const std::string padding(256 << 10, 'p');
    write_setting(path(), settings_section, "padding", padding);
    write_setting(path(), settings_section, "n", "00000000");
    const std::string head = "[pingtest]\npadding=" + padding + "\nn=";
    std::mt19937 random(11);
    int leftovers = 0;  // left by the kills, each removed by the next writer
    for (int round = 0; round < 60; ++round) {
        int ready[2];
        QCOMPARE(::pipe(ready), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            for (unsigned i = 1;; ++i) {
                char value[16];
                std::snprintf(value, sizeof value, "%08u", (i + unsigned(round) * 1000u) % 100000000u);
                write_setting(path(), settings_section, "n", value);
                if (i == 1 && ::write(ready[1], "r", 1) != 1) ::_exit(1);
            }
        }
        ::close(ready[1]);
        char signal_byte = 0;
        QCOMPARE(::read(ready[0], &signal_byte, 1), ssize_t(1));  // kills land in steady writing
        ::close(ready[0]);
        ::usleep(useconds_t(random() % 20000));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        const std::string now = file_contents(path());
        QCOMPARE(now.size(), head.size() + 9);
        QVERIFY(now.compare(0, head.size(), head) == 0);
        QCOMPARE(now.back(), '\n');
        leftovers += int(entries().size()) - 2;
    }
    qInfo("%d temporary files were left by 60 kills", leftovers);
    QVERIFY(leftovers > 0);  // else the kills missed the replacement and proved nothing
    write_setting(path(), settings_section, "n", "last");
    QCOMPARE(entries(), after_a_write);
    QCOMPARE(read_setting(path(), settings_section, "n", ""), std::string("last"));
}

// Only our own temporary names, next to this settings file, and only files no writer holds.
void test_settings_file::stale_temporaries_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("directory");
    QTest::addColumn<bool>("held");
    QTest::addColumn<int>("age_s");
    QTest::addColumn<bool>("removed");
    QTest::newRow("ours") << ".ini.ini.tmp.AbC123" << false << false << 0 << true;
    QTest::newRow("ours, in use by a running write") << ".ini.ini.tmp.AbC123" << false << true << 0 << false;
    QTest::newRow("an earlier version's, a minute old") << ".ini.ini.tmp-4711-3" << false << false << 61 << true;
    QTest::newRow("an earlier version's, just made") << ".ini.ini.tmp-4711-3" << false << false << 0 << false;
    QTest::newRow("five letters") << ".ini.ini.tmp.AbC12" << false << false << 0 << false;
    QTest::newRow("seven letters") << ".ini.ini.tmp.AbC1234" << false << false << 0 << false;
    QTest::newRow("other characters") << ".ini.ini.tmp.AbC-12" << false << false << 0 << false;
    QTest::newRow("another file's") << ".other.ini.tmp.AbC123" << false << false << 0 << false;
    QTest::newRow("not hidden") << "ini.ini.tmp.AbC123" << false << false << 0 << false;
    QTest::newRow("a folder") << ".ini.ini.tmp.AbC123" << true << false << 0 << false;
}

void test_settings_file::stale_temporaries()
{
    QFETCH(QString, name);
    QFETCH(bool, directory);
    QFETCH(bool, held);
    QFETCH(int, age_s);
    QFETCH(bool, removed);
    put_file(path(), "[pingtest]\n");
    const std::string leftover = in_dir(name.toStdString());
    if (directory) QCOMPARE(::mkdir(leftover.c_str(), 0700), 0);
    else put_file(leftover, "[pingtest]\ngway_ip=half");
    const int holder = held ? ::open(leftover.c_str(), O_RDONLY) : -1;
    if (held) QCOMPARE(::flock(holder, LOCK_EX), 0);
    const timespec times[2] = {{std::time(nullptr) - age_s, 0}, {std::time(nullptr) - age_s, 0}};
    QCOMPARE(::utimensat(AT_FDCWD, leftover.c_str(), times, 0), 0);
    write_setting(path(), settings_section, "gway_ip", "127.0.0.1");
    if (holder >= 0) ::close(holder);
    QCOMPARE(exists(leftover), !removed);
    QCOMPARE(read_setting(path(), settings_section, "gway_ip", ""), std::string("127.0.0.1"));
}

// A write goes through symbolic links, a dangling one too: the link stays, its target changes.
void test_settings_file::write_follows_links_data()
{
    QTest::addColumn<QByteArrayList>("links");  // name, then what it points to; pairs
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("target_exists");
    QTest::newRow("live link") << QByteArrayList{"ini.ini", "real.ini"} << "real.ini" << true;
    QTest::newRow("dangling link") << QByteArrayList{"ini.ini", "real.ini"} << "real.ini" << false;
    QTest::newRow("dangling link into a folder") << QByteArrayList{"ini.ini", "sub/real.ini"} << "sub/real.ini" << false;
    QTest::newRow("chain of links") << QByteArrayList{"ini.ini", "sub/link", "sub/link", "real.ini"} << "sub/real.ini"
                                    << false;
}

void test_settings_file::write_follows_links()
{
    QFETCH(QByteArrayList, links);
    QFETCH(QString, target);
    QFETCH(bool, target_exists);
    QCOMPARE(::mkdir(in_dir("sub").c_str(), 0700), 0);
    for (qsizetype i = 0; i + 1 < links.size(); i += 2)
        QCOMPARE(::symlink(links[i + 1].constData(), in_dir(text(links[i])).c_str()), 0);
    const std::string real = in_dir(target.toStdString());
    if (target_exists) put_file(real, "[pingtest]\ngway_ip=1\n");
    write_setting(path(), settings_section, "gway_ip", "2");
    write_setting(path(), settings_section, "outer_ip", "1");
    QCOMPARE(bytes(file_contents(real)), QByteArray("[pingtest]\ngway_ip=2\nouter_ip=1\n"));
    QVERIFY(S_ISLNK(status_of(path()).st_mode));
    QCOMPARE(read_setting(path(), settings_section, "outer_ip", ""), std::string("1"));
}

// A temporary name of bounded length: names up to NAME_MAX keep their writes.
void test_settings_file::long_file_names_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("32 bytes") << 32;
    QTest::newRow("33 bytes") << 33;
    QTest::newRow("240 bytes") << 240;
    QTest::newRow("NAME_MAX") << NAME_MAX;
}

void test_settings_file::long_file_names()
{
    QFETCH(int, length);
    const std::string name = std::string(size_t(length) - 4, 'n') + ".ini";
    const std::string file = in_dir(name);
    for (const char* value : {"1", "2"}) {
        write_setting(file, settings_section, "gway_ip", value);
        QCOMPARE(read_setting(file, settings_section, "gway_ip", ""), std::string(value));
    }
    QStringList expected{QString::fromStdString(name)};
    if (length + 6 <= NAME_MAX) expected.prepend(QString::fromStdString("." + name + ".lock"));
    QCOMPARE(entries(), expected);
}

void test_settings_file::new_file_mode_data()
{
    QTest::addColumn<int>("mask");
    QTest::addColumn<int>("mode");
    QTest::newRow("umask 022") << 022 << 0644;
    QTest::newRow("umask 002") << 002 << 0664;
    QTest::newRow("umask 077") << 077 << 0600;
    QTest::newRow("umask 0") << 0 << 0666;
}

void test_settings_file::new_file_mode()
{
    QFETCH(int, mask);
    QFETCH(int, mode);
    const mode_t old_mask = ::umask(mode_t(mask));
    write_setting(path(), settings_section, "gway_ip", "1");
    ::umask(old_mask);
    QCOMPARE(mode_of(path()), mode_t(mode));
}

void test_settings_file::replaced_file_keeps_mode_data()
{
    QTest::addColumn<int>("mode");
    for (const int mode : {0600, 0640, 0604, 0666, 0755, 02664})
        QTest::addRow("%o", mode) << mode;
}

void test_settings_file::replaced_file_keeps_mode()
{
    QFETCH(int, mode);
    put_file(path(), "[pingtest]\n");
    QCOMPARE(::chmod(path().c_str(), mode_t(mode)), 0);
    const ino_t inode = status_of(path()).st_ino;
    const mode_t old_mask = ::umask(077);
    write_setting(path(), settings_section, "gway_ip", "1");
    ::umask(old_mask);
    QVERIFY(status_of(path()).st_ino != inode);  // replaced, not rewritten
    QCOMPARE(mode_of(path()), mode_t(mode));
}

// The unprivileged user writes a file in a folder it may write: replaced where the owner and
// group can be kept, else rewritten in place.
void test_settings_file::owner_and_group_data()
{
    QTest::addColumn<uint>("owner");
    QTest::addColumn<uint>("group");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("in_place");
    QTest::newRow("the user's own file") << uint(unprivileged_user) << uint(unprivileged_group) << 0640 << false;
    QTest::newRow("own file, a group of the user's") << uint(unprivileged_user) << uint(shared_group) << 0660 << false;
    QTest::newRow("root's group-writable file") << 0u << uint(shared_group) << 0664 << true;
}

void test_settings_file::owner_and_group()
{
    QFETCH(uint, owner);
    QFETCH(uint, group);
    QFETCH(int, mode);
    QFETCH(bool, in_place);
    if (::geteuid() != 0) QSKIP("needs root, to act as an unprivileged user");
    const std::string folder = dir_->path().toStdString();
    QCOMPARE(::chown(folder.c_str(), unprivileged_user, unprivileged_group), 0);
    put_file(path(), "[pingtest]\ngway_ip=1\n");
    QCOMPARE(::chown(path().c_str(), owner, group), 0);
    QCOMPARE(::chmod(path().c_str(), mode_t(mode)), 0);
    const ino_t inode = status_of(path()).st_ino;
    QCOMPARE(as_unprivileged([this] {
                 write_setting(path(), settings_section, "gway_ip", "2");
                 return std::string("written");
             }),
             std::string("written"));
    ::chown(folder.c_str(), 0, 0);
    const struct stat after = status_of(path());
    QCOMPARE(bytes(file_contents(path())), QByteArray("[pingtest]\ngway_ip=2\n"));
    QCOMPARE(after.st_uid, uid_t(owner));
    QCOMPARE(after.st_gid, gid_t(group));
    QCOMPARE(after.st_mode & 07777, mode_t(mode));
    QCOMPARE(after.st_ino == inode, in_place);
}

// Where an unprivileged user's options are kept, for a program in a folder the user may or may
// not write. Paths are relative to the test folder.
void test_settings_file::settings_location_data()
{
    QTest::addColumn<bool>("program_folder_writable");
    QTest::addColumn<QString>("ini");  // "none", "writable" or "read-only"
    QTest::addColumn<QString>("xdg_config_home");
    QTest::addColumn<QString>("expected");
    const QString in_home("home/.config/quorvel/ini.ini");
    QTest::newRow("installed") << false << "none" << "" << in_home;
    QTest::newRow("installed, an ini.ini the user may write") << false << "writable" << "" << "program/ini.ini";
    QTest::newRow("installed, a read-only ini.ini") << false << "read-only" << "" << in_home;
    QTest::newRow("portable") << true << "none" << "" << "program/ini.ini";
    QTest::newRow("portable, an ini.ini already") << true << "writable" << "" << "program/ini.ini";
    QTest::newRow("XDG_CONFIG_HOME") << false << "none" << "/xdg" << "xdg/quorvel/ini.ini";
    QTest::newRow("relative XDG_CONFIG_HOME ignored") << false << "none" << "xdg" << in_home;
}

void test_settings_file::settings_location()
{
    QFETCH(bool, program_folder_writable);
    QFETCH(QString, ini);
    QFETCH(QString, xdg_config_home);
    QFETCH(QString, expected);
    if (::geteuid() != 0) QSKIP("needs root, to act as an unprivileged user");
    const std::string base = dir_->path().toStdString();
    QCOMPARE(::chmod(base.c_str(), 0755), 0);
    for (const char* folder : {"program", "home", "xdg"}) {
        QCOMPARE(::mkdir(in_dir(folder).c_str(), 0755), 0);
        if (std::string(folder) != "program" || program_folder_writable)
            QCOMPARE(::chown(in_dir(folder).c_str(), unprivileged_user, unprivileged_group), 0);
    }
    const std::string beside = in_dir("program/ini.ini");
    if (ini != "none") {
        put_file(beside, "[pingtest]\n");
        if (ini == "writable") QCOMPARE(::chown(beside.c_str(), unprivileged_user, unprivileged_group), 0);
    }
    const std::string xdg = xdg_config_home.startsWith('/') ? base + xdg_config_home.toStdString()
                                                             : xdg_config_home.toStdString();
    const settings_environment environment{in_dir("program"), xdg, in_dir("home")};
    const std::string chosen = as_unprivileged([&] {
        const std::string path = settings_path_for(environment);
        write_setting(path, settings_section, "gway_ip", "127.0.0.3");
        return path;
    });
    QCOMPARE(chosen, in_dir(expected.toStdString()));
    QCOMPARE(read_setting(chosen, settings_section, "gway_ip", ""), std::string("127.0.0.3"));
    if (!expected.startsWith("program")) {
        QCOMPARE(exists(beside), ini != "none");
        const std::string folder = chosen.substr(0, chosen.rfind('/'));
        QCOMPARE(mode_of(folder), mode_t(0700));
        if (expected.startsWith("home")) QCOMPARE(mode_of(in_dir("home/.config")), mode_t(0700));
    }
}

// Root may write /usr/bin, yet starting the program from there must not leave a file in it.
void test_settings_file::root_never_makes_a_settings_file_under_usr()
{
    if (exists("/usr/bin/ini.ini")) QSKIP("/usr/bin/ini.ini exists on this machine");
    const settings_environment environment{"/usr/bin", "", in_dir("home")};
    QCOMPARE(settings_path_for(environment), in_dir("home/.config/quorvel/ini.ini"));
    QVERIFY(!exists("/usr/bin/ini.ini"));
    const settings_environment portable{in_dir("usr/bin"), "", in_dir("home")};
    QCOMPARE(::mkdir(in_dir("usr").c_str(), 0700), 0);
    QCOMPARE(::mkdir(in_dir("usr/bin").c_str(), 0700), 0);
    QCOMPARE(settings_path_for(portable), in_dir("usr/bin/ini.ini"));
}

int main(int argc, char** argv)
{
    test_settings_file test(argv[0]);
    return QTest::qExec(&test, argc, argv);
}

#include "test_settings_file.moc"
