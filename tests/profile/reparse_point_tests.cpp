// Which reparse points count as links for the held folder and its files.
#include <gtest/gtest.h>

#include "profile/reparse_point.h"

namespace {

// A compressed or cloud-held config.toml keeps its records; only a name that
// leads elsewhere is refused. Wine makes no reparse points but its own links,
// so the decision is checked on its own.
TEST(ReparsePoint, OnlyATagThatRedirectsTheNameIsRefused)
{
    const DWORD reparse = FILE_ATTRIBUTE_REPARSE_POINT;
    EXPECT_FALSE(IsRedirectingReparsePoint(reparse | FILE_ATTRIBUTE_COMPRESSED, IO_REPARSE_TAG_WOF));
    EXPECT_FALSE(IsRedirectingReparsePoint(reparse, IO_REPARSE_TAG_CLOUD_6));
    EXPECT_TRUE(IsRedirectingReparsePoint(reparse, IO_REPARSE_TAG_SYMLINK));
    EXPECT_TRUE(IsRedirectingReparsePoint(reparse | FILE_ATTRIBUTE_DIRECTORY, IO_REPARSE_TAG_MOUNT_POINT));
    // Wine's folder that is a Unix symbolic link: the attribute by name, no tag by handle.
    EXPECT_TRUE(IsRedirectingReparsePoint(reparse | FILE_ATTRIBUTE_DIRECTORY, 0));
}

}  // namespace
