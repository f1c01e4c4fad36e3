#!/usr/bin/perl
# Walks an NTX file with Perl's XBase::Index (an independent reader) and prints one line per
# entry in its order: the record number, a blank, and the key bytes in lower-case hex.
#   perl ntx_xbase.pl FILE.ntx
use strict;
use warnings;
use XBase::Index;

my $file = shift or die "usage: $0 FILE.ntx\n";
my $index = XBase::Index->new($file, type => 'char') or die XBase::Index->errstr . "\n";
$index->prepare_select or die $index->errstr . "\n";
while (my ($key, $recno) = $index->fetch) {
    print $recno, ' ', unpack('H*', $key), "\n";
}
