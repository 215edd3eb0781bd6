#include "serial/TelnetCodec.h"

#include <cstring>

std::size_t TelnetCodec::Decode(const unsigned char* in, std::size_t n, unsigned char* out,
                                std::vector<Event>* pEvents) {
    std::size_t got = 0;
    const unsigned char* const end = in + n;
    for (const unsigned char* p = in; p < end;) {
        switch (m_state) {
        case State::Data: {
            // Runs of data bytes are copied whole: a reply holds an IAC seldom.
            const auto* iac = static_cast<const unsigned char*>(
                std::memchr(p, kIac, static_cast<std::size_t>(end - p)));
            const unsigned char* stop = iac ? iac : end;
            std::memcpy(out + got, p, static_cast<std::size_t>(stop - p));
            got += static_cast<std::size_t>(stop - p);
            p = stop;
            if (iac) {
                m_state = State::Iac;
                ++p;
            }
            break;
        }
        case State::Iac: {
            const unsigned char c = *p++;
            if (c == kIac) {
                out[got++] = kIac;
                m_state = State::Data;
            } else if (c >= kWill && c <= kDont) {
                m_verb = c;
                m_state = State::Verb;
            } else if (c == kSb) {
                m_state = State::SbOption;
            } else {
                m_state = State::Data; // NOP, GA, a stray SE and the like carry nothing here
            }
            break;
        }
        case State::Verb: {
            Event e;
            e.kind = Event::Kind::Negotiation;
            e.verb = m_verb;
            e.option = *p++;
            e.dataAt = got;
            pEvents->push_back(e);
            m_state = State::Data;
            break;
        }
        case State::SbOption:
            m_sb = Event();
            m_sb.kind = Event::Kind::Subnegotiation;
            m_sb.option = *p++;
            m_overlong = false;
            m_state = State::SbData;
            break;
        case State::SbData: {
            const unsigned char c = *p++;
            if (c == kIac) {
                m_state = State::SbIac;
                break;
            }
            if (m_sb.payload.size() < kLongestSubnegotiation) {
                m_sb.payload += static_cast<char>(c);
            } else if (!m_overlong) {
                // Said once; the rest of it is skipped up to its end.
                m_overlong = true;
                Event e;
                e.kind = Event::Kind::Overlong;
                e.option = m_sb.option;
                e.dataAt = got;
                pEvents->push_back(e);
            }
            break;
        }
        case State::SbIac: {
            const unsigned char c = *p;
            if (c == kIac) {
                ++p;
                m_state = State::SbData;
                if (m_sb.payload.size() < kLongestSubnegotiation)
                    m_sb.payload += static_cast<char>(kIac);
                break;
            }
            // IAC SE ends it; any other command after IAC ends it too, and is read as one.
            if (!m_overlong) {
                m_sb.dataAt = got;
                pEvents->push_back(m_sb);
            }
            m_sb.payload.clear();
            if (c == kSe) {
                ++p;
                m_state = State::Data;
            } else {
                m_state = State::Iac;
            }
            break;
        }
        }
    }
    return got;
}

void TelnetCodec::AppendEscaped(const unsigned char* data, std::size_t n, std::string* pOut) {
    const unsigned char* const end = data + n;
    for (const unsigned char* p = data; p < end;) {
        const auto* iac = static_cast<const unsigned char*>(
            std::memchr(p, kIac, static_cast<std::size_t>(end - p)));
        const unsigned char* stop = iac ? iac + 1 : end;
        pOut->append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(stop - p));
        if (iac)
            *pOut += static_cast<char>(kIac);
        p = stop;
    }
}

std::string TelnetCodec::Negotiation(unsigned char verb, unsigned char option) {
    return std::string{static_cast<char>(kIac), static_cast<char>(verb), static_cast<char>(option)};
}

std::string TelnetCodec::Subnegotiation(unsigned char option, const std::string& payload) {
    std::string s{static_cast<char>(kIac), static_cast<char>(kSb), static_cast<char>(option)};
    AppendEscaped(reinterpret_cast<const unsigned char*>(payload.data()), payload.size(), &s);
    s += static_cast<char>(kIac);
    s += static_cast<char>(kSe);
    return s;
}
