// The About page: its two texts, nothing else on it, and nothing it reacts to.
#include "ui/nPAbout.h"

#include <QAbstractButton>
#include <QLabel>
#include <QWidget>

#include <gtest/gtest.h>
#include <memory>

namespace {

TEST(AboutPage, ShowsOnlyItsTwoTexts)
{
    nPAbout page;
    ASSERT_TRUE(page.Create());
    QWidget* window = page.GetSafeWidget();
    ASSERT_NE(window, nullptr);

    QStringList texts;
    int others = 0;
    for (QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isHidden())
            continue;
        if (auto* label = qobject_cast<QLabel*>(child))
            texts << label->text();
        else
            ++others;
    }
    EXPECT_EQ(texts, (QStringList{"11 Mbps IEEE 802.11b Wireless LAN PC Card Utility", "Version: 1.2.3"}));
    EXPECT_EQ(others, 0);
    // Nothing on the page takes the keyboard focus.
    for (QWidget* child : window->findChildren<QWidget*>())
        EXPECT_EQ(child->focusPolicy() & Qt::TabFocus, 0) << child->metaObject()->className();
}

TEST(AboutPage, TakesItsTabCaptionFromItsTemplate)
{
    nPAbout page;
    EXPECT_EQ(page.GetTemplate().id, 132);
    EXPECT_EQ(page.GetTemplate().caption, u"About");
}

TEST(AboutPage, HandlesNoMessageOfItsOwn)
{
    // Its table is its base's: clicks, selections, timers and activation all go past it.
    nPAbout page;
    EXPECT_EQ(page.GetMessageMap(), fw::PropertyPage::GetThisMessageMap());
}

TEST(AboutPage, IsCreatableByItsClassName)
{
    EXPECT_EQ(nPAbout::runtimeClass.className, "nPAbout");
    std::unique_ptr<fw::Object> made = nPAbout::runtimeClass.CreateObject();
    ASSERT_NE(made, nullptr);
    EXPECT_TRUE(made->IsKindOf(&nPAbout::runtimeClass));
    EXPECT_TRUE(made->IsKindOf(&fw::PropertyPage::runtimeClass));
}

} // namespace
