// A fresh simulated machine with an installed host, for the language unit's tests.
#pragma once

#include "context/ProgInfo.h"
#include "lang/LangUnit.h"
#include "os/sim/Sim.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

inline const std::string kHostFolder = "C:\\Program Files\\Zelm\\";
inline const std::string kLangFolder = kHostFolder + "language\\";
inline const std::string kProgKey = "Software\\Orvek\\Zelm";

// A language file holding every key the updater reads, with the given "langcode" section body
// and more sections after them.
inline std::string CompleteLangFile(const std::string& name, const std::string& langcode,
                                    const std::string& more = "") {
    return "[progname]\n" + name + " caption\n\n[langcode]\n" + langcode +
           "\n\n[langver]\n3\n\n"
           "[noright]\n" +
           name + " no rights\n\n[filecantopen]\n" + name + " cannot open %1\n\n" +
           "[verificationfail]\n" + name + " verification failed\n\n[badinstaller]\n" + name +
           " bad installer\n\n[soundquest]\n" + name + " question\n\n[olderfilever]\n" + name +
           " newer %1\n\n[liveupdatecaption]\n" + name + " live update\n\n[installask]\n" + name +
           " install %1 %2?\n\n[installdone]\n" + name + " done %1\n\n[asktorun]\n" + name +
           " run?\n\n[bellwick]\n" + name + " bank\n\n" + more;
}

class LangFixture : public ::testing::Test {
protected:
    void SetUp() override {
        os::sim::Reset();
        DoneLangUnit();
        Ctx = UpdateContext();
        Ctx.ProgName = "Zelm";
        Ctx.HostFolder = kHostFolder;
        Ctx.LocalCaption = "start caption";
        Ctx.EnglishCaption = "Zelm update";
        SetLocale(0x0409);
        Ctx.ProgRegistry = std::make_unique<Registry>(os::KEY_ALL_ACCESS);
    }
    void TearDown() override {
        DoneLangUnit();
        Ctx.ProgRegistry.reset();
    }

    static void SetLocale(os::LCID lcid) {
        Ctx.UserLCID = lcid;
        Ctx.IsCyrillicLocale = IsCyrillicLcid(lcid);
    }
    static void PutLang(const std::string& name, const std::string& text) {
        os::sim::PutFile(kLangFolder + name, text);
    }
    static std::string CurrentName() {
        const LangState& state = Languages();
        return state.CurrentLangIndex < 0
                   ? std::string()
                   : state.LangFiles.at(static_cast<std::size_t>(state.CurrentLangIndex));
    }
    static std::vector<std::string> BoxTexts() {
        std::vector<std::string> texts;
        for (const os::sim::Box& box : os::sim::Boxes()) {
            texts.push_back(box.text);
        }
        return texts;
    }
};
