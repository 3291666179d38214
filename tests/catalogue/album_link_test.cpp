#include "catalogue/album_link.h"

#include "text/text_ops.h"

#include <gtest/gtest.h>

#include <vector>

namespace ombrik {
namespace {

TEST(AlbumLink, TakesTheLastPieceWithoutQueryOrFragment) {
  const std::pair<const char*, const char*> cases[] = {
      {"https://www.ombrik-demo.example/album/3921767", "3921767"},
      {"https://www.ombrik-demo.example/album/3921767/", "3921767"},
      {"3921767", "3921767"},
      {"https://www.ombrik-demo.example/album/3921767?from=share", "3921767"},
      {"https://www.ombrik-demo.example/album/3921767/?x=1#y", "3921767"},
      {"https://www.ombrik-demo.example/album/3921767#top", "3921767"},
      {"album/abc def", "abc def"},  // taken verbatim otherwise
  };
  for (const auto& [link, id] : cases) {
    const AlbumId got = AlbumIdFromLink(link);
    EXPECT_GE(got.pieceCount, 1) << link;
    EXPECT_EQ(got.id, Text(id)) << link;
  }
  for (const char* none : {"", "/", "///", "?from=share", "/#x"}) {
    EXPECT_LT(AlbumIdFromLink(none).pieceCount, 1) << none;
  }
}

TEST(AlbumLink, RequestAddressesUseTheConfiguredOrigin) {
  EXPECT_EQ(FirstPageUrl("42"), Text("https://m.ombrik-demo.example/m-revision/common/album/"
                                     "queryAlbumTrackRecordsByPage?albumId=42&page=1&pageSize=2&asc=true"));
  EXPECT_EQ(TrackPageUrl("42", 10, "http://127.0.0.1:8080/"),
            Text("http://127.0.0.1:8080/m-revision/common/album/"
                 "queryAlbumTrackRecordsByPage?albumId=42&page=10&pageSize=100&asc=true"));
  EXPECT_EQ(TrackApiOrigin(""), Text("https://m.ombrik-demo.example"));
}

struct PlanCase {
  double total;
  int pageCount;
  std::vector<int> items;  // per page
  const char* firstNumber;
  const char* lastNumber;  // of the last item read, page by page
};

TEST(PagePlan, PagesItemsAndNumbers) {
  const PlanCase cases[] = {
      {250, 3, {100, 100, 50}, "250", "1"}, {200, 3, {100, 100, 0}, "200", "1"},
      {100, 2, {100, 0}, "100", "1"},       {5, 1, {5}, "5", "1"},
      {0, 1, {0}, nullptr, nullptr},
  };
  for (const PlanCase& c : cases) {
    const PagePlan plan = PlanPages(c.total);
    ASSERT_EQ(plan.pageCount, c.pageCount) << c.total;
    Text first, last;
    int expectedNumber = static_cast<int>(c.total);
    for (int page = 1; page <= plan.pageCount; ++page) {
      ASSERT_EQ(ItemsOnPage(page, plan), c.items[page - 1]) << c.total << " page " << page;
      for (int k = 1; k <= ItemsOnPage(page, plan); ++k) {
        const Text number = TrackRowNumber(c.total, page, k);
        EXPECT_EQ(number, IntToText(expectedNumber--));
        if (first.empty()) first = number;
        last = number;
      }
    }
    EXPECT_EQ(first, Text(c.firstNumber ? c.firstNumber : ""));
    EXPECT_EQ(last, Text(c.lastNumber ? c.lastNumber : ""));
  }
  EXPECT_EQ(TrackIndexText(1), Text("0"));
  EXPECT_EQ(TrackIndexText(100), Text("99"));
  // Numbers depend on Total, the page and k only.
  EXPECT_EQ(TrackRowNumber(250, 3, 50), Text("1"));
  EXPECT_EQ(TrackRowNumber(30, 1, 40), Text("-9"));
}

TEST(PagePlan, FractionalAndHostileTotals) {
  EXPECT_EQ(PlanPages(250.5).pageCount, 3);
  EXPECT_EQ(ItemsOnPage(3, PlanPages(250.5)), 50);
  EXPECT_EQ(TrackRowNumber(250.5, 1, 1), Text("250.5"));
  EXPECT_EQ(PlanPages(-250).pageCount, -1);  // no page is fetched
  EXPECT_EQ(PlanPages(1e30).pageCount, 0);
}

}  // namespace
}  // namespace ombrik
