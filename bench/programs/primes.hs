sieve :: [Int] -> [Int]
sieve (p : xs) = p : sieve [x | x <- xs, x `mod` p /= 0]

main :: IO ()
main = print ((sieve [2 ..] !! 2999) `mod` 256)
