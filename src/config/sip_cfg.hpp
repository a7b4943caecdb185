#pragma once

#include <string>

// The relay's eight settings, read once from the configuration file when the record is built.
class TagSipCfg {
  public:
    // Reads fileName from the current directory unless loadNow is cleared.
    explicit TagSipCfg(std::string fileName = "SipCfg.ini", bool loadNow = true);

    // Reads the configuration file: 0 after reading it to its end, -1 when it cannot be opened
    // (the record then keeps its empty texts and zero ports). Prints nothing.
    int Load();

    std::string myIp1;
    std::string myIp2;
    int myPort = 0;
    std::string msIp1;
    std::string msIp2;
    int msPort = 0;
    std::string outProxyAddr;
    int outProxyPort = 0;

    std::string fileName;
};

// Removes blanks and tabs at both ends of text; everything between stays.
void TrimBlanks(std::string& text);
