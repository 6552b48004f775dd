// SPDX-License-Identifier: MIT
#include "FileTaches.h"

FileTaches::FileTaches(int fils, int attenteMaximum) : m_attenteMaximum(size_t(attenteMaximum))
{
    for (int i = 0; i < fils; ++i)
        m_fils.emplace_back(&FileTaches::travailler, this);
}

FileTaches::~FileTaches()
{
    {
        std::lock_guard<std::mutex> garde(m_verrou);
        m_fin = true;
    }
    m_changement.notify_all();
    for (std::thread &fil : m_fils)
        fil.join();
}

void FileTaches::ajouter(std::function<void()> tache)
{
    std::unique_lock<std::mutex> verrou(m_verrou);
    m_changement.wait(verrou, [this]() { return m_taches.size() < m_attenteMaximum; });
    m_taches.push_back(std::move(tache));
    verrou.unlock();
    m_changement.notify_all();
}

void FileTaches::attendre()
{
    std::unique_lock<std::mutex> verrou(m_verrou);
    m_changement.wait(verrou, [this]() { return m_taches.empty() && m_enCours == 0; });
}

void FileTaches::travailler()
{
    std::unique_lock<std::mutex> verrou(m_verrou);
    for (;;) {
        m_changement.wait(verrou, [this]() { return m_fin || !m_taches.empty(); });
        if (m_taches.empty())
            return;
        std::function<void()> tache = std::move(m_taches.front());
        m_taches.pop_front();
        ++m_enCours;
        verrou.unlock();
        m_changement.notify_all();
        tache();
        verrou.lock();
        --m_enCours;
        m_changement.notify_all();
    }
}
