#include "platform/types.h"

void TStringList::Clear()
{
    m_items.clear();
    if (OnChange)
        OnChange();
}

void TStringList::Add(const std::string& S)
{
    m_items.push_back(S);
    if (OnChange)
        OnChange();
}

std::string IntToStr(int Value)
{
    return std::to_string(Value);
}
