#include "net/secure_protocols.h"

DWORD ChooseSecureProtocols(const SetProtocolsOption& set)
{
    // Windows 7 and 8.0 offer only SSL 3.0 and TLS 1.0 unless asked, which
    // current servers refuse. TLS 1.3 is unknown before Windows 11 and makes
    // the whole value fail there. Neither taken (Windows 7 without its 2016
    // update): the server decides, as before.
    const DWORD choices[] = {WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3,
                             WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2};
    for (DWORD protocols : choices)
        if (set(protocols))
            return protocols;
    return 0;
}

DWORD SetSecureProtocols(HINTERNET session)
{
    return ChooseSecureProtocols([session](DWORD protocols) {
        return WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols)) != FALSE;
    });
}
