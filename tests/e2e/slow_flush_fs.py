#!/usr/bin/python3
"""A folder passed through FUSE whose flushes are slow, as a write-cached USB
stick's are: every fsync sleeps DELAY seconds before it is made. Everything
else goes straight to the backing folder, and the file system serves several
callers at once, so reads and writes go on while a flush sleeps.

    slow_flush_fs.py BACKING MOUNTPOINT DELAY

Runs in the foreground until the mount point is unmounted.
"""
import errno
import os
import sys
import time

from fusepy import FUSE, FuseOSError, Operations


class SlowFlush(Operations):
    def __init__(self, root, delay):
        self.root = root
        self.delay = delay

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
        time.sleep(self.delay)
        os.fsync(fh)


if __name__ == '__main__':
    FUSE(SlowFlush(sys.argv[1], float(sys.argv[3])), sys.argv[2], foreground=True, nothreads=False)
