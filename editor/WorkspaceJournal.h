#pragma once
// Start-up cleanup of the temporary files and folders that killed runs leave behind.
//
// Every process keeps a journal of the temporary trees and temporary name prefixes it owns, in a
// private per-user folder under the temporary location ("<pid>-<process start time>.journal"). A
// journal whose process is gone names exactly what that process left behind; the next start removes
// those entries, and only while they are still the very same files (same device and inode, same
// owner). A normal end removes the journal.
//
// Order rule for callers: register right after creating; remove a recorded folder with
// removeRecorded. A kill between creating and registering leaks a folder; removal itself is safe
// against kills at any moment.
#include <QString>

class WorkspaceJournal {
public:
    // Records a file or folder this process has just created. Recording a path again updates its
    // identity (a folder that was replaced by a rename). False when nothing was recorded.
    static bool registerTree(const QString& path);
    // Records "entries of `dir` whose name starts with `prefix`", for temporary names made by code
    // that cannot report them. Only hidden prefixes (".name...") are accepted.
    static bool registerPrefix(const QString& dir, const QString& prefix);
    // Forgets a recorded tree (for a tree that is not removed, or that goes some other way).
    static void release(const QString& path);
    // Removes a recorded folder (or file) and forgets it. It is first renamed to a hidden name of
    // this process beside it, recorded under both names meanwhile, so that a kill at any moment
    // leaves it either recorded or gone, and its freed name is never in the journal. Links are
    // removed as links. True when nothing is left at `path`.
    static bool removeRecorded(const QString& path);
    // Forgets one recording of a prefix.
    static void releasePrefix(const QString& dir, const QString& prefix);

    // Removes what dead processes of this user left behind; the number of paths removed.
    static int cleanupStale();
    // Ends this process's journal (its file goes); also done at normal process end.
    static void closeProcessJournal();

    // The per-user journal folder under the temporary location.
    static QString journalDir();
    // This process's journal file (it exists only while something is recorded).
    static QString processJournalPath();

    // Records a tree for the lifetime of the object. Declare it after the object that removes the
    // tree (a QTemporaryDir), so that it is released first.
    class ScopedTree {
    public:
        explicit ScopedTree(const QString& path) : m_path(path), m_registered(registerTree(path)) {}
        ~ScopedTree() {
            if (m_registered) {
                release(m_path);
            }
        }
        ScopedTree(const ScopedTree&) = delete;
        ScopedTree& operator=(const ScopedTree&) = delete;

    private:
        QString m_path;
        bool m_registered;
    };
};
