#include "platform/FakePlatform.h"

namespace {

class FakeVerifier final : public Platform::PasswordVerifier
{
public:
    explicit FakeVerifier(FakePlatform &owner) : m_owner(owner) {}
    ~FakeVerifier() override { ++m_owner.verifierUnloads; }
    bool verify(quint64 window) override
    {
        m_owner.verifyCalls << window;
        return m_owner.verifyAnswer ? m_owner.verifyAnswer(window) : true;
    }

private:
    FakePlatform &m_owner;
};

class FakeChanger final : public Platform::PasswordChanger
{
public:
    explicit FakeChanger(FakePlatform &owner) : m_owner(owner) {}
    void change(const QByteArray &, quint32 owner, quint32, quint32) override { m_owner.changeOwners << owner; }

private:
    FakePlatform &m_owner;
};

} // namespace

int FakePlatform::showCursor(bool show)
{
    cursorCount += show ? 1 : -1;
    cursorCalls << (show ? 1 : -1);
    return cursorCount;
}

std::unique_ptr<Platform::PasswordVerifier> FakePlatform::loadPasswordVerifier()
{
    if (!verifierLibraryPresent)
        return nullptr;
    return std::make_unique<FakeVerifier>(*this);
}

std::unique_ptr<Platform::PasswordChanger> FakePlatform::loadPasswordChanger()
{
    if (!changerLibraryPresent)
        return nullptr;
    return std::make_unique<FakeChanger>(*this);
}

QStringList FakePlatform::folderEntryNames(const QString &folder)
{
    return makeSystemPlatform()->folderEntryNames(folder);
}

FakePlatform &FakePlatform::installFake()
{
    auto fake = std::make_unique<FakePlatform>();
    FakePlatform &ref = *fake;
    installPlatform(std::move(fake));
    return ref;
}
