// Catalogue-style names of designed layers.
#include <gtest/gtest.h>

#include "library/search_query.h"
#include "render/designed_names.h"

TEST(DesignedNames, TitleFromTheQuery) {
    std::vector<SearchTerm> terms = ParseSearchQuery("+metal hit");
    EXPECT_EQ(UniqueDesignedName(terms, "ignored", "also ignored", 0), "META_Metal Hit_01");
    // Case is kept except for each first letter; excluded terms leave the title.
    terms = ParseSearchQuery("sciFi -glass zap");
    EXPECT_EQ(UniqueDesignedName(terms, "x", "", 2), "SCI_SciFi Zap_03");
    // Layer numbers keep growing past two digits.
    EXPECT_EQ(UniqueDesignedName(ParseSearchQuery("gun"), "", "", 9), "GUN_Gun_10");
    EXPECT_EQ(UniqueDesignedName(ParseSearchQuery("gun"), "", "", 99), "GUN_Gun_100");
}

TEST(DesignedNames, TitleFromTheSourceNames) {
    EXPECT_EQ(UniqueDesignedName({}, "glass_break_03", "Metal-Scrape", 1),
              "DSGNMisc_glass Metal Designed_02");
    // Only excluded terms count as no query.
    EXPECT_EQ(UniqueDesignedName(ParseSearchQuery("-wind"), "glass_break", "", 0),
              "DSGNMisc_glass Designed_01");
    // The same first word is used once.
    EXPECT_EQ(UniqueDesignedName({}, "door.slam", "door-creak", 0), "DSGNMisc_door Designed_01");
    EXPECT_EQ(UniqueDesignedName({}, "", "", 0), "DSGNMisc_Sound Designed_01");
    EXPECT_EQ(UniqueDesignedName({}, "__--..", " _", 0), "DSGNMisc_Sound Designed_01");
}

TEST(DesignedNames, FirstNameToken) {
    EXPECT_EQ(FirstNameToken("__Glass break"), "Glass");
    EXPECT_EQ(FirstNameToken("04_hit"), "04");
    EXPECT_EQ(FirstNameToken("Ölfass.wav"), "Ölfass");
    EXPECT_EQ(FirstNameToken("-. _"), "Sound");
    EXPECT_EQ(FirstNameToken(""), "Sound");
}
