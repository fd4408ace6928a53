#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "fake_stream.h"
#include "isig/array.h"
#include "isig/meta_buffer_pair.h"

namespace isig::test {
namespace {

using TraitsD = SignalTraits<double, RuntimeDefined, 1>;

std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const istd::Exception& e) {
        return e.what();
    }
    return "no exception";
}

TEST(Array, OwnedArrayHoldsAtomsOfAllComponents) {
    Array<Traits16> array(TwoComponents(), 3);
    EXPECT_TRUE(array.IsOwned());
    EXPECT_EQ(array.GetAtomCount(), 3u);
    EXPECT_EQ(array.GetCapacity(), 3u);
    EXPECT_EQ(array.ElementCount(), 6u);
    EXPECT_EQ(array.ByteCount(), 12u);
    for (int e = 0; e < 6; ++e) array.Data()[e] = static_cast<short>(e);
    EXPECT_EQ(array.At(1, 0), 2);
    EXPECT_EQ(array.At(2, 1), 5);
}

TEST(Array, RefusesInvalidRuntimeAtomAndIndexesOutOfRange) {
    Array<Traits16> array(TwoComponents(), 2);
    const struct {
        const char* what;
        std::function<void()> action;
        const char* message;
    } cases[] = {
        {"no components", [] { Array<Traits16> a(Traits16(), 1); }, "isig: Runtime atom is not valid."},
        {"no components, no atoms", [] { Array<Traits16> a(Traits16(), 0); }, "isig: Runtime atom is not valid."},
        {"atom index", [&] { array.At(2, 0); }, "array: index out of range"},
        {"component index", [&] { array.At(0, 2); }, "array: index out of range"},
        {"grow a view", [&] { Array<Traits16>(TwoComponents(), array.Data(), 2).Resize(3); },
         "array: Cannot extend non-owned array."},
        {"grow without components", [] { Array<Traits16>().Resize(1); }, "isig: Runtime atom is not valid."},
    };
    for (const auto& c : cases) EXPECT_EQ(MessageOf(c.action), c.message) << c.what;
}

TEST(Array, GrowingKeepsAtomsAndShrinkingKeepsCapacity) {
    Array<Traits16> array(TwoComponents(), 2);
    for (int e = 0; e < 4; ++e) array.Data()[e] = static_cast<short>(e + 1);
    array.Resize(5);
    EXPECT_EQ(array.GetCapacity(), 5u);
    EXPECT_EQ(array.At(1, 1), 4);
    array.Resize(1);
    EXPECT_EQ(array.GetAtomCount(), 1u);
    EXPECT_EQ(array.GetCapacity(), 5u);
    EXPECT_EQ(array.At(0, 0), 1);
}

TEST(Array, ViewShrinksButNeverOwns) {
    short data[6] = {1, 2, 3, 4, 5, 6};
    Array<Traits16> view(TwoComponents(), data, 3);
    EXPECT_FALSE(view.IsOwned());
    view.Resize(2);
    EXPECT_EQ(view.GetAtomCount(), 2u);
    EXPECT_EQ(view.At(1, 1), 4);
    EXPECT_EQ(view.Data(), data);
}

TEST(Array, MoveHandsOverTheBufferAndLeavesAnEmptyArray) {
    Array<Traits16> array(TwoComponents(), 4);
    short* const buffer = array.Data();
    Array<Traits16> moved(std::move(array));
    EXPECT_EQ(moved.Data(), buffer);
    EXPECT_EQ(moved.GetAtomCount(), 4u);
    EXPECT_EQ(array.GetAtomCount(), 0u);
    EXPECT_EQ(array.GetCapacity(), 0u);
    EXPECT_EQ(array.Data(), nullptr);
    // The emptied array can grow again, as the dispatcher's does.
    array.Resize(2);
    EXPECT_EQ(array.GetCapacity(), 2u);
}

TEST(Array, CopyOfDuplicatesTheAtoms) {
    const short data[4] = {7, 8, 9, 10};
    Array<Traits16> copy = Array<Traits16>::CopyOf(TwoComponents(), data, 2);
    EXPECT_TRUE(copy.IsOwned());
    EXPECT_NE(copy.Data(), data);
    EXPECT_EQ(copy.At(1, 0), 9);
}

int g_freed = 0;
void CountingFree(void* elements) {
    ++g_freed;
    delete[] static_cast<short*>(elements);
}

TEST(Array, AdoptedBufferIsFreedOnceByItsOwnRoutine) {
    g_freed = 0;
    short* const buffer = new short[4]{1, 2, 3, 4};
    {
        Array<Traits16> adopted = Array<Traits16>::Adopt(TwoComponents(), buffer, 2, &CountingFree);
        EXPECT_TRUE(adopted.IsOwned());
        EXPECT_EQ(adopted.At(1, 1), 4);
        Array<Traits16> moved(std::move(adopted));
        EXPECT_EQ(g_freed, 0);
        // Growing moves the atoms into an array of its own and frees the old buffer.
        moved.Resize(3);
        EXPECT_EQ(g_freed, 1);
        EXPECT_EQ(moved.At(1, 0), 3);
    }
    EXPECT_EQ(g_freed, 1);
    EXPECT_EQ(MessageOf([] { Array<Traits16>::Adopt(Traits16(), nullptr, 0, &CountingFree); }),
              "isig: Runtime atom is not valid.");
}

TEST(Array, ElementCountsThatOverflowAreRefused) {
    const std::uint32_t maxU32 = std::numeric_limits<std::uint32_t>::max();
    EXPECT_EQ(MessageOf([&] { Array<TraitsD>::CheckedElements(maxU32, maxU32); }), "isig: Block size too large.");
    EXPECT_EQ(MessageOf([&] { Array<TraitsD>::CheckedElements(std::uint64_t{1} << 62, 1); }),
              "isig: Block size too large.");
    EXPECT_EQ(Array<TraitsD>::CheckedElements(1000, 3), 3000u);
    EXPECT_EQ(Array<TraitsD>::CheckedElements(0, maxU32), 0u);
}

TEST(MetaBufferPair, TakesTheArrayAndKeepsTheMetadata) {
    Array<Traits16> array(TwoComponents(), 2);
    short* const buffer = array.Data();
    MetaBufferPair<Traits16> pair(std::move(array), SignalMeta{{eMetaLmt, 5}, {eMetaAtomCount, 2}});
    EXPECT_EQ(pair.GetArray().Data(), buffer);
    EXPECT_EQ(pair.GetArray().GetAtomCount(), 2u);
    EXPECT_EQ(array.Data(), nullptr);
    EXPECT_EQ(pair.GetMeta().at(eMetaLmt), 5);
}

}  // namespace
}  // namespace isig::test
