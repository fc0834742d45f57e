#pragma once
// A set of non-owned pointers kept in run order: by a rank that the member
// reports, and by order of insertion within one rank. Each pointer is held
// once.
#include <algorithm>
#include <cstddef>
#include <vector>

namespace QVXMLInfoExtractors {

// Thread: the discovery caller's thread only.
template <class T, class RankOf>
class OrderedMembers {
public:
    // False when the pointer was already there.
    bool Insert(T* member)
    {
        if (!member || Contains(member))
            return false;
        const auto rank = RankOf{}(*member);
        auto at = std::find_if(m_items.begin(), m_items.end(),
                               [&](const T* m) { return rank < RankOf{}(*m); });
        m_items.insert(at, member);
        return true;
    }
    std::size_t Remove(T* member)
    {
        auto at = std::find(m_items.begin(), m_items.end(), member);
        if (at == m_items.end())
            return 0;
        m_items.erase(at);
        return 1;
    }
    bool Contains(const T* member) const
    {
        return std::find(m_items.begin(), m_items.end(), member) != m_items.end();
    }
    std::size_t size() const { return m_items.size(); }
    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }

private:
    std::vector<T*> m_items;
};

} // namespace QVXMLInfoExtractors
