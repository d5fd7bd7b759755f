#!/usr/bin/python3
"""A folder passed through FUSE as a disk at a distance: every operation waits
OP_MS milliseconds first (a round trip to a NAS or another PC), and every
fsync FSYNC_MS more (the server's disk taking the data in; thousands of
milliseconds make a write-cached USB stick). Everything else goes straight to
the backing folder, and the file system serves several callers at once, so
other operations go on while one waits. While the file OFF exists, every
operation fails with ETIME, a request that timed out, as on a share that has
dropped or a NAS switched off (Wine gives the program ERROR_SEM_TIMEOUT, as
Windows' redirector does; an EIO would reach it as ERROR_NOACCESS or
ERROR_NOT_READY, which no redirector gives).

    latency_fs.py BACKING MOUNTPOINT [--op-ms N] [--fsync-ms N] [--off PATH]

Runs in the foreground until the mount point is unmounted.
"""
import argparse
import errno
import os
import time

from fusepy import FUSE, FuseOSError, Operations


class Distant(Operations):
    def __init__(self, root, op_ms, fsync_ms, off):
        self.root = root
        self.op_delay = op_ms / 1000.0
        self.fsync_delay = fsync_ms / 1000.0
        self.off = off

    def __call__(self, op, *args):
        if self.op_delay:
            time.sleep(self.op_delay)
        if self.off and os.path.exists(self.off):
            raise FuseOSError(errno.ETIME)
        return super().__call__(op, *args)

    def _path(self, path):
        return os.path.join(self.root, path.lstrip('/'))

    def access(self, path, mode):
        if not os.access(self._path(path), mode):
            raise FuseOSError(errno.EACCES)

    def getattr(self, path, fh=None):
        st = os.lstat(self._path(path))
        keys = ('st_atime', 'st_ctime', 'st_gid', 'st_mode', 'st_mtime', 'st_nlink', 'st_size', 'st_uid')
        return {key: getattr(st, key) for key in keys}

    def statfs(self, path):
        st = os.statvfs(self._path(path))
        keys = ('f_bavail', 'f_bfree', 'f_blocks', 'f_bsize', 'f_favail', 'f_ffree', 'f_files', 'f_flag',
                'f_frsize', 'f_namemax')
        return {key: getattr(st, key) for key in keys}

    def readdir(self, path, fh):
        return ['.', '..'] + os.listdir(self._path(path))

    def mkdir(self, path, mode):
        os.mkdir(self._path(path), mode)

    def rmdir(self, path):
        os.rmdir(self._path(path))

    def unlink(self, path):
        os.unlink(self._path(path))

    def rename(self, old, new):
        os.rename(self._path(old), self._path(new))

    def chmod(self, path, mode):
        os.chmod(self._path(path), mode)

    def utimens(self, path, times=None):
        os.utime(self._path(path), times)

    def truncate(self, path, length, fh=None):
        os.truncate(self._path(path), length)

    def open(self, path, flags):
        return os.open(self._path(path), flags)

    def create(self, path, mode, fi=None):
        return os.open(self._path(path), os.O_RDWR | os.O_CREAT, mode)

    def read(self, path, size, offset, fh):
        return os.pread(fh, size, offset)

    def write(self, path, data, offset, fh):
        return os.pwrite(fh, data, offset)

    def flush(self, path, fh):
        return 0

    def release(self, path, fh):
        os.close(fh)

    def fsync(self, path, datasync, fh):
        time.sleep(self.fsync_delay)
        os.fsync(fh)


if __name__ == '__main__':
    parser = argparse.ArgumentParser()
    parser.add_argument('backing')
    parser.add_argument('mountpoint')
    parser.add_argument('--op-ms', type=float, default=0)
    parser.add_argument('--fsync-ms', type=float, default=0)
    parser.add_argument('--off', default='')
    args = parser.parse_args()
    FUSE(Distant(args.backing, args.op_ms, args.fsync_ms, args.off), args.mountpoint, foreground=True,
         nothreads=False)
