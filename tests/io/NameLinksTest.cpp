#include "io/NameLinks.h"
#include "tests/common/Seeds.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace qor::io;

namespace {

// A file name of 1 to 12 random bytes: anything but the folder separator and the end mark,
// and not "." or "..".
QByteArray randomName(std::mt19937& random)
{
    std::uniform_int_distribution<int> length(1, 12);
    std::uniform_int_distribution<int> byte(1, 255);
    QByteArray name;
    for (int n = length(random); name.size() < n;) {
        const char c = char(byte(random));
        if (c != '/')
            name += c;
    }
    return name == "." || name == ".." ? name + 'x' : name;
}

bool writeRaw(const QByteArray& path, const char* text)
{
    std::ofstream file(path.toStdString(), std::ios::binary);
    file << text;
    return bool(file);
}

std::set<std::string> namesIn(const QByteArray& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.toStdString()))
        names.insert(entry.path().filename().string());
    return names;
}

// The one name in after that is not in before, empty when there is none or more than one.
std::string newName(const std::set<std::string>& before, const std::set<std::string>& after)
{
    std::vector<std::string> made;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                        std::back_inserter(made));
    return made.size() == 1 ? made.front() : std::string();
}

// What someone else who may write to the folder does to the staging folder named name:
// moves it away and puts a link to victim, or a folder of their own, under its name.
enum class Swap { Link, Folder };

bool swapStagingFolder(const QByteArray& folder, const std::string& name, const QByteArray& victim,
                       Swap swap)
{
    const QByteArray path = folder + '/' + name.c_str();
    if (::rename(path.constData(), (folder + "/.weg").constData()) != 0)
        return false;
    return swap == Swap::Link ? ::symlink(victim.constData(), path.constData()) == 0
                              : ::mkdir(path.constData(), 0700) == 0;
}

} // namespace

// Whatever the bytes of a folder and a file name, the path the program reaches them by leads
// back to those bytes, as the real path and through the text kept in lists across runs; the
// file's folder is reached by text. Seeds: QOR_NAME_SEED (first) and QOR_NAME_SEEDS (count).
TEST(NameLinks, EveryNameLeadsBackToItsBytes)
{
    const int first = qEnvironmentVariableIsSet("QOR_NAME_SEED")
                          ? qEnvironmentVariableIntValue("QOR_NAME_SEED")
                          : int(qor::test::seed(0));
    const int count = std::max(1, qEnvironmentVariableIntValue("QOR_NAME_SEEDS")) * 40;
    QTemporaryDir dir;
    const QByteArray base = QFile::encodeName(dir.path());
    for (int seed = first; seed < first + count; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random{unsigned(seed)};
        const QByteArray folder = base + '/' + randomName(random);
        const QByteArray file = folder + '/' + randomName(random);
        ASSERT_TRUE(std::filesystem::create_directory(folder.toStdString()));
        ASSERT_TRUE(writeRaw(file, "Inhalt"));

        NameLinks links;
        QString error;
        const QString reached = links.reach(file, QFile::decodeName(file), error);
        ASSERT_FALSE(reached.isEmpty()) << error.toStdString();
        QFile through(reached);
        ASSERT_TRUE(through.open(QIODevice::ReadOnly));
        EXPECT_EQ(through.readAll(), QByteArray("Inhalt"));
        EXPECT_EQ(realPathBytes(reached), file);
        const QString lasting = lastingPath(reached);
        EXPECT_EQ(lastingPathBytes(lasting), file);
        EXPECT_EQ(lasting.startsWith(QStringLiteral("file://")), !isTextName(file));
        const std::optional<LinkedFile> linked = linkedFile(reached);
        EXPECT_EQ(linked.has_value(), !isTextName(file.mid(folder.size() + 1)));
        // Components are looked up there and a save is staged there.
        const QString folderText = linked ? linked->folder : QFileInfo(reached).absolutePath();
        EXPECT_TRUE(QFileInfo(folderText).isDir());
        EXPECT_EQ(realPathBytes(folderText), folder);
        if (linked)
            EXPECT_EQ(linked->name, file.mid(folder.size() + 1));
        std::filesystem::remove_all(folder.toStdString());
    }
}

// Paths kept before links existed, and any text path, are their own lasting form.
TEST(NameLinks, TextPathsStayAsTheyAre)
{
    for (const QString path :
         {QStringLiteral("/home/anna/Teile/Flansch 2.qcpart"), QStringLiteral("/tmp/Grüppe.qcasm"),
          QStringLiteral("relativ.step")}) {
        EXPECT_EQ(lastingPath(path), path);
        EXPECT_EQ(lastingPathBytes(path), QFile::encodeName(path));
    }
}

// A link is known only while its NameLinks lives; its private folder goes with it, or at
// once when the process ends without unwinding. What the links lead to stays.
TEST(NameLinks, LinksGoWithTheirOwnerOrAtOnce)
{
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path()) + "/ordner\xe9";
    ASSERT_TRUE(std::filesystem::create_directory(folder.toStdString()));
    const QByteArray file = folder + "/caf\xe9.qcpart";
    const QByteArray beside = folder + "/teil.qcpart";
    ASSERT_TRUE(writeRaw(file, "{}"));
    ASSERT_TRUE(writeRaw(beside, "{}"));
    const std::set<std::string> names{"caf\xe9.qcpart", "teil.qcpart"};
    QString reached;
    QString error;
    {
        NameLinks links;
        reached = links.reach(file, QStringLiteral("caf"), error);
        ASSERT_TRUE(linkedFile(reached).has_value());
        ASSERT_FALSE(links.reach(beside, QStringLiteral("teil"), error).isEmpty());
    }
    EXPECT_FALSE(linkedFile(reached).has_value());
    EXPECT_EQ(realPathBytes(reached), QFile::encodeName(reached));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(reached).absolutePath()));
    EXPECT_EQ(namesIn(folder), names);

    NameLinks kept;
    reached = kept.reach(file, QStringLiteral("caf"), error);
    ASSERT_FALSE(kept.reach(beside, QStringLiteral("teil"), error).isEmpty());
    const QString privateFolder = QFileInfo(QFileInfo(reached).absolutePath()).absolutePath();
    ASSERT_TRUE(QFileInfo(privateFolder).isDir());
    removeNameLinks();
    EXPECT_FALSE(QFileInfo::exists(privateFolder));
    EXPECT_EQ(namesIn(folder), names);
    std::filesystem::remove_all(QFile::encodeName(dir.path()).toStdString());
}

// A staged file takes the target's name and access rights in one step, or goes.
TEST(NameStage, TheWrittenFileTakesTheNameAndRightsOrGoes)
{
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path());
    const QByteArray target = folder + "/caf\xe9.step";
    ASSERT_TRUE(writeRaw(target, "alt"));
    ASSERT_EQ(::chmod(target.constData(), 0604), 0);
    {
        NameStage stage(dir.path(), "caf\xe9.step");
        EXPECT_EQ(QFileInfo(stage.path()).suffix(), QStringLiteral("step"));
        ASSERT_TRUE(writeRaw(QFile::encodeName(stage.path()), "neu"));
        ASSERT_TRUE(stage.finish());
    }
    std::ifstream written(target.toStdString());
    std::string text;
    written >> text;
    EXPECT_EQ(text, "neu");
    struct stat status { };
    ASSERT_EQ(::stat(target.constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0604u);
    EXPECT_EQ(namesIn(folder), std::set<std::string>{"caf\xe9.step"});

    // Not finished: the written file goes, the target stays.
    {
        NameStage stage(dir.path(), "caf\xe9.step");
        ASSERT_TRUE(writeRaw(QFile::encodeName(stage.path()), "verworfen"));
    }
    EXPECT_EQ(namesIn(folder), std::set<std::string>{"caf\xe9.step"});
    std::filesystem::remove_all(folder.toStdString());
}

// The staged file lies in a folder made new for it, which only its owner may enter, so no
// link planted beside the target under any name stands where the writer writes; the folder
// goes with the stage, finished or not.
TEST(NameStage, WritesInAFolderOfItsOwnThatGoesWithIt)
{
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path());
    ASSERT_TRUE(writeRaw(folder + "/fremd", "fremd"));
    for (int n = 0; n < 64; ++n) {
        const QByteArray planted = folder + "/.qorcad-" + QByteArray::number(::getpid()) + '-'
                                   + QByteArray::number(n) + ".step";
        ASSERT_EQ(::symlink((folder + "/fremd").constData(), planted.constData()), 0);
    }
    const std::set<std::string> before = namesIn(folder);
    for (const bool finished : {false, true}) {
        SCOPED_TRACE(finished);
        {
            NameStage stage(dir.path(), "caf\xe9.step");
            const QFileInfo staged(stage.path());
            const std::string made = newName(before, namesIn(folder));
            struct stat status { };
            ASSERT_EQ(::lstat((folder + '/' + made.c_str()).constData(), &status), 0);
            EXPECT_TRUE(S_ISDIR(status.st_mode));
            EXPECT_EQ(status.st_mode & 07777, 0700u);
            // The writer's path leads into that very folder.
            struct stat reached { };
            ASSERT_EQ(::stat(QFile::encodeName(staged.absolutePath()).constData(), &reached), 0);
            EXPECT_EQ(reached.st_ino, status.st_ino);
            EXPECT_FALSE(staged.exists());
            ASSERT_TRUE(writeRaw(QFile::encodeName(stage.path()), "neu"));
            if (finished)
                ASSERT_TRUE(stage.finish());
        }
        std::set<std::string> after = before;
        if (finished)
            after.insert("caf\xe9.step");
        EXPECT_EQ(namesIn(folder), after);
        std::ifstream victim((folder + "/fremd").toStdString());
        std::string text;
        victim >> text;
        EXPECT_EQ(text, "fremd");
    }

    // A folder that takes no new entries gives no stage, and says why.
    errno = 0;
    NameStage refused(QStringLiteral("/proc"), "caf\xe9.step");
    EXPECT_TRUE(refused.path().isEmpty());
    EXPECT_NE(errno, 0);
    EXPECT_FALSE(refused.finish());
    std::filesystem::remove_all(folder.toStdString());
}

// Someone who may write to the target's folder swaps the staging folder for a link to
// another folder, or for a folder of their own, at each step of a stage: the written file
// never takes the target's name from there, the other folder keeps every file, and the
// user is told why in German.
TEST(NameStage, AStagingFolderSwappedAwayIsNeitherWrittenThroughNorEmptied)
{
    enum class When { BeforeWriting, BeforeFinishing, AfterFinishing };
    const struct {
        When when;
        Swap swap;
        bool finished;
    } cases[] = {
        {When::BeforeWriting, Swap::Link, false},     {When::BeforeFinishing, Swap::Link, false},
        {When::AfterFinishing, Swap::Link, true},     {When::BeforeWriting, Swap::Folder, false},
        {When::BeforeFinishing, Swap::Folder, false}, {When::AfterFinishing, Swap::Folder, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.when) * 2 + int(c.swap));
        QTemporaryDir dir;
        const QByteArray base = QFile::encodeName(dir.path());
        const QByteArray folder = base + "/projekt";
        const QByteArray victim = base + "/opfer";
        ASSERT_EQ(::mkdir(folder.constData(), 0770), 0);
        ASSERT_EQ(::mkdir(victim.constData(), 0700), 0);
        ASSERT_EQ(::mkdir((victim + "/unter").constData(), 0700), 0);
        ASSERT_TRUE(writeRaw(victim + "/datei.step", "fremd"));
        ASSERT_TRUE(writeRaw(victim + "/unter/tief.txt", "tief"));
        ASSERT_TRUE(writeRaw(folder + "/caf\xe9.step", "alt"));
        const std::set<std::string> before = namesIn(folder);
        {
            NameStage stage(QFile::decodeName(folder), "caf\xe9.step");
            const std::string made = newName(before, namesIn(folder));
            ASSERT_FALSE(made.empty());
            if (c.when == When::BeforeWriting)
                ASSERT_TRUE(swapStagingFolder(folder, made, victim, c.swap));
            ASSERT_TRUE(writeRaw(QFile::encodeName(stage.path()), "neu"));
            if (c.when == When::BeforeFinishing)
                ASSERT_TRUE(swapStagingFolder(folder, made, victim, c.swap));
            errno = 0;
            EXPECT_EQ(stage.finish(), c.finished);
            if (!c.finished) {
                const QString text = stage.failureText(QStringLiteral("„café.step“"), errno);
                EXPECT_TRUE(text.startsWith(QStringLiteral("„café.step“: Der Zwischenordner „")))
                    << text.toStdString();
                EXPECT_TRUE(text.endsWith(QStringLiteral("die bisherige Datei bleibt unverändert")))
                    << text.toStdString();
            }
            if (c.when == When::AfterFinishing)
                ASSERT_TRUE(swapStagingFolder(folder, made, victim, c.swap));
        }
        std::ifstream target((folder + "/caf\xe9.step").toStdString());
        std::string text;
        target >> text;
        EXPECT_EQ(text, c.finished ? "neu" : "alt");
        EXPECT_EQ(namesIn(victim), (std::set<std::string>{"datei.step", "unter"}));
        EXPECT_EQ(namesIn(victim + "/unter"), std::set<std::string>{"tief.txt"});
        std::ifstream kept((victim + "/datei.step").toStdString());
        kept >> text;
        EXPECT_EQ(text, "fremd");
        // The folder moved away is left empty: the written file went with the stage.
        EXPECT_TRUE(namesIn(folder + "/.weg").empty());
        std::filesystem::remove_all(base.toStdString());
    }
}

// Names are shown as the user wrote them: UTF-8 where the bytes are, any other byte as the
// Latin-1 letter it stands for.
TEST(ShownName, BytesThatAreNotUtf8ShowAsLatin1Letters)
{
    const struct {
        QByteArray bytes;
        QString shown;
    } cases[] = {
        {"teil.step", QStringLiteral("teil.step")},
        {"gr\xc3\xbcn.step", QStringLiteral("grün.step")},
        {"gr\xfcn.step", QStringLiteral("grün.step")},
        {"caf\xe9-\xc3\xa4", QStringLiteral("café-ä")},
        {"aus\xff", QStringLiteral("ausÿ")},
        // An over-long form, a surrogate and a cut sequence are no UTF-8 either.
        {"\xc0\xaf", QStringLiteral("\u00C0\u00AF")},
        {"\xed\xa0\x80", QStringLiteral("\u00ED\u00A0\u0080")},
        {"a\xe2\x82", QStringLiteral("a\u00E2\u0082")},
        {"\xf0\x9f\x99\x82", QStringLiteral("\U0001F642")},
        {"/tmp/ordner\xe9/caf\xe9.qcpart", QStringLiteral("/tmp/ordneré/café.qcpart")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.toStdString());
        EXPECT_EQ(shownName(c.bytes), c.shown);
    }

    // A link that stands in for such a file shows as the real file.
    QTemporaryDir dir;
    const QByteArray file = QFile::encodeName(dir.path()) + "/caf\xe9.step";
    ASSERT_TRUE(writeRaw(file, "x"));
    NameLinks links;
    QString error;
    const QString reached = links.reach(file, QStringLiteral("caf"), error);
    ASSERT_FALSE(reached.isEmpty()) << error.toStdString();
    EXPECT_EQ(shownPath(reached), dir.path() + QStringLiteral("/café.step"));
    EXPECT_EQ(shownPath(dir.filePath(QStringLiteral("teil.step"))),
              dir.filePath(QStringLiteral("teil.step")));
    std::filesystem::remove_all(QFile::encodeName(dir.path()).toStdString());
}
