#include "io/FileReadWatch.h"
#include "tests/common/TempFiles.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using namespace qor;

namespace {

constexpr int fileBytes = 1 << 20;

QString watchedFile(const QTemporaryDir& dir, const QString& name)
{
    return test::writeFile(dir, name, QByteArray(fileBytes, 'x'));
}

int openFile(const QString& path)
{
    return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
}

} // namespace

// A parser reading through the file as the kernel's STEP parser does, by a stream: the share
// follows the stream's descriptor, reaches the whole file and stays there once it is closed.
TEST(FileReadWatch, FollowsAStreamThroughTheFile)
{
    QTemporaryDir dir;
    const QString path = watchedFile(dir, QStringLiteral("teil.step"));
    io::FileReadWatch watch(path);
    EXPECT_EQ(watch.share(), 0.0);
    std::vector<double> shares;
    {
        std::ifstream stream(QFile::encodeName(path).constData(), std::ios::binary);
        std::vector<char> chunk(fileBytes / 8);
        while (stream.read(chunk.data(), std::streamsize(chunk.size())))
            shares.push_back(watch.share());
    }
    ASSERT_EQ(shares.size(), 8u);
    for (std::size_t i = 1; i < shares.size(); ++i)
        EXPECT_GT(shares[i], shares[i - 1]) << i;
    EXPECT_LE(shares.front(), 0.25);
    EXPECT_EQ(shares.back(), 1.0);
    EXPECT_EQ(watch.share(), 1.0);
}

// What counts is a descriptor on the watched file, wherever it stands; other files, a
// closed descriptor whose number now names another file, and a missing file do not.
TEST(FileReadWatch, CountsOnlyDescriptorsOnTheWatchedFile)
{
    QTemporaryDir dir;
    const QString watched = watchedFile(dir, QStringLiteral("teil.step"));
    const QString other = watchedFile(dir, QStringLiteral("anderes.step"));

    io::FileReadWatch watch(watched);
    const int otherFd = openFile(other);
    ASSERT_GE(otherFd, 0);
    ASSERT_EQ(::lseek(otherFd, fileBytes, SEEK_SET), fileBytes);
    EXPECT_EQ(watch.share(), 0.0) << "another file read to its end";

    const int fd = openFile(watched);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::lseek(fd, fileBytes / 4, SEEK_SET), fileBytes / 4);
    EXPECT_DOUBLE_EQ(watch.share(), 0.25);
    ::close(fd);
    // The number comes back for the other file, read to its end.
    const int reused = openFile(other);
    ASSERT_GE(reused, 0);
    ASSERT_EQ(::lseek(reused, fileBytes, SEEK_SET), fileBytes);
    EXPECT_DOUBLE_EQ(watch.share(), 0.25);
    // Another descriptor on the watched file further on is found.
    const int again = openFile(watched);
    ASSERT_EQ(::lseek(again, fileBytes / 2, SEEK_SET), fileBytes / 2);
    EXPECT_DOUBLE_EQ(watch.share(), 0.5);
    ASSERT_EQ(::lseek(again, 0, SEEK_SET), 0);
    EXPECT_DOUBLE_EQ(watch.share(), 0.5) << "the share never goes back";
    for (const int open : {otherFd, reused, again})
        ::close(open);

    io::FileReadWatch missing(dir.filePath(QStringLiteral("fehlt.step")));
    EXPECT_EQ(missing.share(), 0.0);
}
