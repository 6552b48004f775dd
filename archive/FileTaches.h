// SPDX-License-Identifier: MIT
#ifndef FILETACHES_H
#define FILETACHES_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A few threads working through a bounded queue of tasks: the caller is
// held back while the queue is full, so that what waits stays small.
class FileTaches
{
public:
    FileTaches(int fils, int attenteMaximum);
    // Waits for every task given.
    ~FileTaches();
    FileTaches(const FileTaches &) = delete;
    FileTaches &operator=(const FileTaches &) = delete;

    void ajouter(std::function<void()> tache);
    // Returns once every task given so far is done.
    void attendre();

private:
    void travailler();

    std::mutex m_verrou;
    std::condition_variable m_changement;
    std::deque<std::function<void()>> m_taches;
    std::vector<std::thread> m_fils;
    size_t m_attenteMaximum;
    int m_enCours = 0;
    bool m_fin = false;
};

#endif
